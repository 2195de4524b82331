#include "app/window/qt/run_wait.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

namespace zelk::app::qt {

void WaitForRunServingEvents(MainDialog& dialog) {
    std::atomic<bool> ended{false};
    std::thread waiter([&dialog, &ended] {
        dialog.WaitForRun();
        ended = true;
    });
    while (!ended) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    waiter.join();
    QCoreApplication::processEvents();  // what the worker posted last (the caption)
}

}  // namespace zelk::app::qt
