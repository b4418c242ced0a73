// "Evolutionary refinement of experimental data": limits, mutation, population size,
// normalisation and the profile model, with a picture of the double half-Gaussian profile.
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <cmath>

#include "gui/view_util.hpp"
#include "gui/views.hpp"
#include "refine/formrefinedata.hpp"

namespace kelvarin::gui {

namespace {

/// The double half-Gaussian strain profile: maximum tau at depth ro, half-widths sigma1 towards
/// the surface and sigma2 towards the bulk.
class ProfilePicture : public QWidget {
public:
    explicit ProfilePicture(QWidget* parent) : QWidget(parent) { setFixedSize(164, 106); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), Qt::white);
        p.setPen(QPen(Qt::black, 1));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        const QPointF origin(14, 90);
        p.drawLine(origin, QPointF(156, 90));  // depth axis
        p.drawLine(origin, QPointF(14, 8));    // strain axis
        const double ro = 60, s1 = 14, s2 = 34, top = 18;
        QPainterPath path;
        for (int x = 0; x <= 140; ++x) {
            const double s = x <= ro ? s1 : s2;
            const double y = std::exp(-std::pow((x - ro) / (2 * s) * 2.2, 2));
            const QPointF pt(origin.x() + x, origin.y() - y * (origin.y() - top));
            if (x == 0)
                path.moveTo(pt);
            else
                path.lineTo(pt);
        }
        p.setPen(QPen(QColor(0, 0, 200), 1.5));
        p.drawPath(path);
        p.setPen(QPen(Qt::gray, 1, Qt::DashLine));
        p.drawLine(QPointF(origin.x() + ro, top), QPointF(origin.x() + ro, origin.y()));
        p.setPen(Qt::black);
        QFont f = font();
        f.setPointSizeF(f.pointSizeF() * 0.85);
        p.setFont(f);
        p.drawText(QPointF(origin.x() + ro + 3, top + 2), QStringLiteral("τ"));
        p.drawText(QPointF(origin.x() + ro - 3, 102), QStringLiteral("ρ"));
        p.drawText(QPointF(origin.x() + ro - 30, 60), QStringLiteral("σ1"));
        p.drawText(QPointF(origin.x() + ro + 26, 60), QStringLiteral("σ2"));
        p.drawText(QPointF(128, 102), QStringLiteral("depth"));
        p.drawText(QPointF(2, 12), QStringLiteral("ε"));
    }
};

QLineEdit* fieldEdit(Binder& b, Edit& state, QWidget* parent) {
    QLineEdit* e = b.edit(state, parent);
    e->setFixedWidth(80);
    e->setToolTip(QString::fromStdString(state.hint));
    return e;
}

}  // namespace

QWidget* buildRefineDataView(Binder& b, Tformrefinedata& form) {
    auto* window = new FormWidget(closableDialogFlags());
    window->onClose = [&b, &form] { b.run([&form] { form.close(); }); };
    auto* top = new QHBoxLayout(window);
    top->setSizeConstraint(QLayout::SetFixedSize);
    top->setSpacing(14);

    auto* left = new QVBoxLayout;
    auto* limits = new QGroupBox(window);
    auto* lg = new QGridLayout(limits);
    lg->addWidget(b.label(form.Label1, limits), 0, 0, 1, 4);
    lg->addWidget(b.label(form.Label7, limits), 1, 1);
    lg->addWidget(b.label(form.Label8, limits), 1, 2);
    lg->addWidget(b.label(form.Label13, limits), 1, 3);
    struct Row {
        Label& caption;
        Edit& lo;
        Edit& hi;
        Edit& mut;
    };
    const Row rows[] = {
        {form.Label3, form.taui, form.tauf, form.maxmuttau},
        {form.Label4, form.roi, form.rof, form.maxmutro},
        {form.Label2, form.sigma1i, form.sigma1f, form.maxmutsigma1},
        {form.Label5, form.sigma2i, form.sigma2f, form.maxmutsigma2},
    };
    int r = 2;
    for (const Row& row : rows) {
        lg->addWidget(b.label(row.caption, limits), r, 0);
        lg->addWidget(fieldEdit(b, row.lo, limits), r, 1);
        lg->addWidget(fieldEdit(b, row.hi, limits), r, 2);
        lg->addWidget(fieldEdit(b, row.mut, limits), r, 3);
        ++r;
    }
    lg->addWidget(b.label(form.Label15, limits), r++, 0, 1, 4);
    lg->addWidget(b.label(form.Label16, limits), r, 0);
    lg->addWidget(fieldEdit(b, form.wmin, limits), r, 1);
    lg->addWidget(b.label(form.Label17, limits), r + 1, 0);
    lg->addWidget(fieldEdit(b, form.wmax, limits), r + 1, 1);
    lg->addWidget(b.label(form.Label9, limits), r + 2, 0);
    lg->addWidget(fieldEdit(b, form.maxmutw, limits), r + 2, 1);
    left->addWidget(limits);

    auto* evolution = new QGroupBox(window);
    auto* eg = new QGridLayout(evolution);
    eg->addWidget(b.label(form.Label18, evolution), 0, 0, 1, 2);
    eg->addWidget(b.label(form.Label11, evolution), 1, 0);
    eg->addWidget(fieldEdit(b, form.Edit2, evolution), 1, 1);
    eg->addWidget(b.label(form.Label10, evolution), 2, 0);
    eg->addWidget(fieldEdit(b, form.Edit1, evolution), 2, 1);
    eg->setColumnStretch(2, 1);
    left->addWidget(evolution);

    // The fixed background sits beside the item that uses it.
    QGroupBox* norm = b.radioGroup(form.normtype, window);
    QLineEdit* background = fieldEdit(b, form.bg, norm);
    background->setFixedWidth(60);
    static_cast<QGridLayout*>(norm->layout())->addWidget(background, 1, 1, Qt::AlignLeft);
    left->addWidget(norm);
    top->addLayout(left);

    auto* right = new QVBoxLayout;
    auto* picture = new ProfilePicture(window);
    right->addWidget(picture);
    QPointer<QWidget> pictureRef(picture);
    b.onPush([pictureRef, &form] {
        if (!pictureRef) return;
        if (pictureRef->isHidden() == form.Image1.visible)
            pictureRef->setVisible(form.Image1.visible);
    });
    right->addWidget(b.button(form.Button2, window, [&form] { form.Button2Click(); }));
    right->addStretch();
    QPushButton* done = b.button(form.Button1, window, [&form] { form.Button1Click(); });
    done->setMinimumHeight(36);
    right->addWidget(done);
    top->addLayout(right);

    b.window(form, window);
    return window;
}

}  // namespace kelvarin::gui
