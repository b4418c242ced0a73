// "Rocking Curve Calculation": run buttons, progress, the plot, its ranges and the result files.
#include "gui/plot_painter.hpp"
#include "gui/view_util.hpp"
#include "gui/views.hpp"
#include "results/formcalc.hpp"

namespace kelvarin::gui {

namespace {

QLineEdit* sizedEdit(Binder& b, Edit& state, QWidget* parent, int width) {
    QLineEdit* e = b.edit(state, parent);
    e->setFixedWidth(width);
    return e;
}

}  // namespace

QWidget* buildCalcView(Binder& b, Tformcalc& form) {
    // A window the user may resize: the plot takes the room it gets.
    auto* window = new FormWidget(closableDialogFlags() | Qt::WindowMinMaxButtonsHint);
    window->onClose = [&b, &form] { b.run([&form] { form.closeRequest(); }, true); };
    auto* column = new QVBoxLayout(window);
    column->setSizeConstraint(QLayout::SetMinimumSize);  // never smaller than its contents
    column->setSpacing(6);

    // Runs and progress.
    auto* runs = new QHBoxLayout;
    runs->addWidget(b.button(form.Button2, window, [&form] { form.Button2Click(); }));
    runs->addWidget(b.button(form.Button1, window, [&form] { form.Button1Click(); }));
    runs->addSpacing(16);
    runs->addWidget(b.button(form.butGo, window, [&form] { form.butGoClick(); }));
    runs->addWidget(b.button(
        form.butStop, window, [&form] { form.butStopClick(); }, true));
    runs->addWidget(b.label(form.Label1, window));
    runs->addWidget(sizedEdit(b, form.ncycles, window, 60));
    runs->addSpacing(8);
    runs->addWidget(b.progressBar(form.ProgressBar1, window), 1);
    column->addLayout(runs);

    auto* status = new QHBoxLayout;
    status->addWidget(b.label(form.Label4, window), 1);
    QFrame* errorPanel = b.panel(form.Panel2, window);
    errorPanel->setMinimumWidth(220);
    status->addWidget(errorPanel);
    column->addLayout(status);

    // The plot.
    auto* plot = new CanvasWidget(form.grafico, window);
    plot->setObjectName(QStringLiteral("grafico"));
    b.onPush([plot] { plot->refresh(); });
    plot->onResize = [&b, &form](int w, int h) { b.run([&form, w, h] { form.resizePlot(w, h); }); };
    column->addWidget(plot, 1);

    // Plot ranges (hidden until the first "Plot").
    QFrame* ranges = b.panel(form.Panel1, window);
    auto* rg = new QHBoxLayout;
    rg->addWidget(b.label(form.Label2, ranges));
    rg->addWidget(sizedEdit(b, form.minX, ranges, 110));
    rg->addWidget(b.label(form.Label7, ranges));
    rg->addWidget(sizedEdit(b, form.maxX, ranges, 110));
    rg->addSpacing(16);
    rg->addWidget(b.label(form.Label3, ranges));
    rg->addWidget(sizedEdit(b, form.minY, ranges, 110));
    rg->addWidget(b.label(form.Label6, ranges));
    rg->addWidget(sizedEdit(b, form.maxY, ranges, 110));
    rg->addSpacing(16);
    rg->addWidget(b.checkBox(form.ckLog, ranges));
    rg->addStretch();
    rg->addWidget(b.button(form.Button3, ranges, [&form] { form.Button3Click(); }));
    static_cast<QVBoxLayout*>(ranges->layout())->addLayout(rg);
    column->addWidget(ranges);

    // Result files.
    auto* files = new QHBoxLayout;
    files->addWidget(b.label(form.Label5, window));
    files->addWidget(sizedEdit(b, form.nomearquivo, window, 160));
    files->addStretch();
    files->addWidget(b.button(form.Button4, window, [&form] { form.Button4Click(); }));
    QPushButton* ok = b.button(form.Button5, window, [&form] { form.Button5Click(); });
    ok->setMinimumWidth(80);
    files->addWidget(ok);
    column->addLayout(files);

    // One typed parameter set ("bufo") and the population aids.
    auto* single = new QGroupBox(QStringLiteral("Single evaluation and population"), window);
    auto* sg = new QHBoxLayout(single);
    sg->addWidget(plainLabel(QStringLiteral("tau:"), single));
    sg->addWidget(sizedEdit(b, form.tau, single, 80));
    sg->addWidget(plainLabel(QStringLiteral("ro:"), single));
    sg->addWidget(sizedEdit(b, form.ro, single, 70));
    sg->addWidget(plainLabel(QStringLiteral("sigma1:"), single));
    sg->addWidget(sizedEdit(b, form.sigma1, single, 70));
    sg->addWidget(plainLabel(QStringLiteral("sigma2:"), single));
    sg->addWidget(sizedEdit(b, form.sigma2, single, 70));
    sg->addWidget(plainLabel(QStringLiteral("background:"), single));
    sg->addWidget(sizedEdit(b, form.txbg, single, 45));
    sg->addWidget(b.button(form.Button6, single, [&form] { form.Button6Click(); }));
    sg->addStretch();
    sg->addWidget(b.button(form.butTeste, single, [&form] { form.butTesteClick(); }));
    sg->addWidget(b.button(form.Button7, single, [&form] { form.Button7Click(); }));
    column->addWidget(single);

    b.window(form, window);
    return window;
}

}  // namespace kelvarin::gui
