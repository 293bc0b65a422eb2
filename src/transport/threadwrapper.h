#pragma once

#include "transportlog.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QThread>
#include <QtDebug>

#include <atomic>
#include <new>

// A thread that constructs one transport object inside itself and runs its
// event loop, so that the object, its sockets and its timers all belong to it.
// T provides TearDown(), run in the thread once its loop has ended.
// The object is not owned by the wrapper: the transport stops and deletes its
// wrapper when it is destroyed.
template <class T> class ThreadWrapper : public QThread
{
public:
    explicit ThreadWrapper(QObject* parent = nullptr) : QThread(parent), m_ready(0)
    {
        start(QThread::InheritPriority);
    }
    ~ThreadWrapper() override = default;

    // Whether the thread has tried to create its object within the time (-1: no limit).
    bool WaitForObject(int milliseconds)
    {
        if (!m_ready.tryAcquire(1, milliseconds))
            return false;
        m_ready.release();
        return true;
    }

    T* GetObject() const { return m_object.load(std::memory_order_acquire); }

    // Ends the event loop and joins the thread; never call it from the thread itself.
    void Stop(bool bDelete)
    {
        // Also tells work running in the thread that it is asked to end.
        requestInterruption();
        quit();
        wait();
        // Pairs with the store at the end of run(), so that what the thread did
        // is ordered before what the caller does next, for thread checkers too.
        (void)m_finished.load(std::memory_order_acquire);
        if (bDelete)
            delete this;
    }

protected:
    void run() override
    {
        if (!m_object.load(std::memory_order_acquire)) {
            m_object.store(new (std::nothrow) T(nullptr), std::memory_order_release);
            m_ready.release();
        }
        if (m_object.load(std::memory_order_acquire)) {
            qCDebug(lcTransport, "ThreadWrapper::run(): starting thread message loop");
            exec();
            qCDebug(lcTransport, "ThreadWrapper::run(): ending thread message loop");
            // Work already handed to the object still runs here, then the
            // object lets go of what belongs to this thread (sockets, timers)
            // while the thread still exists. The qualified call reads no vtable:
            // the owner is inside the object's destructor meanwhile.
            QCoreApplication::sendPostedEvents();
            T* object = m_object.load(std::memory_order_acquire);
            object->T::TearDown();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        } else {
            qCCritical(lcTransport, "ThreadWrapper::run(): object creation failed");
        }
        m_finished.store(true, std::memory_order_release);
    }

private:
    QSemaphore m_ready;
    std::atomic<T*> m_object{nullptr};
    std::atomic<bool> m_finished{false};
};
