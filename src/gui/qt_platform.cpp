#include "gui/qt_platform.hpp"

#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "app/window.hpp"

namespace kelvarin::gui {

void QtPlatform::setModalRunner(const Window& window, std::function<void()> runner) {
    modalWindow_ = &window;
    modalRunner_ = std::move(runner);
}

void QtPlatform::showModal(Window& window) {
    if (&window == modalWindow_ && modalRunner_) {
        window.visible = true;
        modalRunner_();
        window.visible = false;
        return;
    }
    if (beforeEvents_) beforeEvents_();
    QMessageBox::warning(QApplication::activeWindow(), QString::fromStdString(window.caption),
                         QString::fromStdString(window.message()));
    window.hide();
}

void QtPlatform::showException(const std::exception& error) {
    ++exceptionsShown_;
    // The windows show what the failed handler had done before the message appears.
    if (beforeEvents_) beforeEvents_();
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Kelvarin"),
                    QString::fromUtf8(error.what()), QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("exceptionDisplay"));
    box.exec();
}

namespace {

/// The kinds of file the windows and the command line read; "All files" first, so that the
/// dialog shows everything unless the user narrows it.
constexpr const char* kFileFilters =
    "All files (*);;"
    "Two-column text (*.dat *.txt *.csv);;"
    "PANalytical XRDML (*.xrdml *.XRDML);;"
    "PANalytical text scans (*.x00 *.X00);;"
    "Rigaku RAS (*.ras *.RAS);;"
    "Bruker UXD (*.uxd *.UXD)";

}  // namespace

std::optional<std::string> QtPlatform::chooseFile() {
    const QString name =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), QStringLiteral("Open"),
                                     QString(), QString::fromUtf8(kFileFilters));
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
}

namespace {

bool onWindowThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

/// How often the window thread takes up what a background run has posted.
constexpr int kPostedIntervalMs = 15;

}  // namespace

void QtPlatform::processMessages() {
    // Background work leaves the events to the window thread's own loop.
    if (!onWindowThread()) return;
    if (beforeEvents_) beforeEvents_();
    QApplication::processEvents();
}

void QtPlatform::beep() {
    QApplication::beep();
}

void QtPlatform::runInBackground(const std::function<void()>& work) {
    if (!onWindowThread()) {
        work();
        return;
    }
    // The widgets show the state the run starts in ("Stop" enabled, "GO" not) at once.
    if (beforeEvents_) beforeEvents_();
    std::atomic<bool> finished = false;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    {
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(kPostedIntervalMs);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            applyPosted();
            if (finished) loop.quit();
        });
        tick.start();
        loop.exec();
    }
    // The loop also ends when the program is asked to end; the work still gets what it waits
    // for until it returns.
    while (!finished) {
        applyPosted();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    worker.join();
    applyPosted();
    if (failure) std::rethrow_exception(failure);
}

void QtPlatform::post(std::function<void()> update) {
    if (onWindowThread()) {
        update();
        return;
    }
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(update));
}

void QtPlatform::invoke(const std::function<void()>& task) {
    if (onWindowThread()) {
        task();
        return;
    }
    std::promise<void> done;
    post([&task, &done] {
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

void QtPlatform::applyPosted() {
    std::vector<std::function<void()>> updates;
    {
        std::lock_guard lock(postedMutex_);
        updates.swap(posted_);
    }
    if (updates.empty()) return;
    for (auto& update : updates)
        update();
    if (beforeEvents_) beforeEvents_();
}

void QtPlatform::terminate() {
    if (beforeTerminate_ && !beforeTerminate_()) return;
    // Leaves the event loop directly: a quit request would first try to close every window.
    QCoreApplication::exit(0);
}

}  // namespace kelvarin::gui
