#pragma once
// Runs a piece of work on the thread that owns a widget and returns when it is done.
// Worker output must reach the controls in order and complete before the worker goes
// on; a blocking queued call gives exactly that. On the owner's own thread the call is
// direct, because a blocking queued call to oneself would deadlock.
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

namespace fennwick {

template <class Fn>
void RunOnOwnerThread(QObject* owner, Fn&& fn) {
  if (QThread::currentThread() == owner->thread()) {
    std::forward<Fn>(fn)();
    return;
  }
  QMetaObject::invokeMethod(owner, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
}

}  // namespace fennwick
