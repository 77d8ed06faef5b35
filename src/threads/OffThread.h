#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

// Work that runs off the UI thread and whose answer comes back only while it is still wanted:
// the receiver lives, and the request was neither withdrawn nor superseded by a newer one. The
// connect, the commit or rollback, the sort and filter and the stored login's hand-back go this
// way; a statement's worker (src/query) and the read-ahead of a walk have threads of their own.
namespace OffThread {

// Whether a request's answer is still wanted. Dropped on the UI thread; the work may read it on
// its own thread to give up early.
class Wish
{
public:
    bool wanted() const { return !m_dropped.load(); }
    void drop() { m_dropped.store(true); }
    const std::atomic<bool> &dropped() const { return m_dropped; } // for a long loop's stop flag

private:
    std::atomic<bool> m_dropped { false };
};
using WishPtr = std::shared_ptr<Wish>;

// The one request of a kind that is still wanted: a new one drops the one before. UI thread only.
class Latest
{
public:
    WishPtr renew(); // a new request; the one before is dropped
    void drop(); // the request under way is no longer wanted
    void settle() { m_wish.reset(); } // its answer arrived: nothing is under way
    bool pending() const { return bool(m_wish); }
    bool isCurrent(const WishPtr &wish) const { return wish && wish == m_wish; }
    ~Latest() { drop(); }

private:
    WishPtr m_wish;
};

// From any thread: answer goes to deliver(answer) on the UI thread, from its event loop, if the
// receiver still lives and wish (null: none) was not dropped by then; otherwise to
// discard(answer) there. An answer already unwanted here is freed here, on the calling thread.
// The receiver's guard is made on the UI thread, when the request is made.
template <typename Answer, typename Deliver, typename Discard>
void handBack(
    QPointer<QObject> receiver, WishPtr wish, Answer answer, Deliver deliver, Discard discard)
{
    if (wish && !wish->wanted())
        return;
    // A shared box keeps the call copyable whatever the answer is (a unique_ptr, say).
    auto box = std::make_shared<std::optional<Answer>>(std::move(answer));
    // Posted to the application object, which outlives every receiver, and checked there: a
    // QPointer is only read on its object's thread.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [receiver = std::move(receiver), wish = std::move(wish), box, deliver = std::move(deliver),
            discard = std::move(discard)]() mutable {
            if (receiver && (!wish || wish->wanted()))
                deliver(std::move(**box));
            else
                discard(std::move(**box));
        },
        Qt::QueuedConnection);
}

template <typename Answer, typename Deliver>
void handBack(QPointer<QObject> receiver, WishPtr wish, Answer answer, Deliver deliver)
{
    handBack(std::move(receiver), std::move(wish), std::move(answer), std::move(deliver),
        [](Answer &&) {});
}

// On the UI thread: runs work() on a thread of its own (it must not throw: it catches into its
// answer) and hands its answer back as handBack does.
template <typename Work, typename Deliver, typename Discard>
void run(QObject *receiver, WishPtr wish, Work work, Deliver deliver, Discard discard)
{
    std::thread([receiver = QPointer<QObject>(receiver), wish = std::move(wish),
                    work = std::move(work), deliver = std::move(deliver),
                    discard = std::move(discard)]() mutable {
        auto answer = work();
        // The guard is only moved here, never read: it is read on the UI thread.
        handBack(
            std::move(receiver), wish, std::move(answer), std::move(deliver), std::move(discard));
    }).detach(); // what the work holds goes with this thread, after its answer was handed on
}

template <typename Work, typename Deliver>
void run(QObject *receiver, WishPtr wish, Work work, Deliver deliver)
{
    using Answer = std::decay_t<decltype(work())>;
    run(receiver, std::move(wish), std::move(work), std::move(deliver), [](Answer &&) {});
}

} // namespace OffThread
