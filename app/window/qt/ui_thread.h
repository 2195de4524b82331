// Runs a function on the thread that owns `context` (the UI thread) and
// returns its result. Called on that thread it runs at once; from another it
// waits until the UI thread's event loop has run it, so the UI thread must not
// be waiting for the caller at that time.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <type_traits>
#include <utility>

namespace zelk::app::qt {

template <typename Function>
auto OnUiThread(QObject& context, Function&& function) -> decltype(function()) {
    using Result = decltype(function());
    if (QThread::currentThread() == context.thread()) {
        return function();
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(&context, std::forward<Function>(function),
                                  Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            &context, [&result, &function] { result = function(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

}  // namespace zelk::app::qt
