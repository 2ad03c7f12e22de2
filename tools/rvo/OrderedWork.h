// A numbered sequence of items worked on by several threads and taken in
// order: the shape of every multi-threaded subcommand (read frames, encode or
// decode them, write them in frame order).
//
//   make(k, item)         fills item k; false when there is no item k (the
//                         sequence ends). Calls come in order, one at a time.
//   work(worker, item)    on one of the workers (0 .. nThreads - 1), in any order.
//   take(k, item)         on the calling thread, in order k = 0, 1, 2 ...;
//                         false stops the run there (the caller found what it wanted).
//
// At most nWindow items exist at once (made and not yet taken), so memory
// stays bounded whatever the sequence's length; items are reused, so buffers
// inside them keep their capacity. An exception from make or work is kept
// with its item and rethrown on the calling thread when the item's turn
// comes: a run stops at the first failing item in order, as a serial run
// would, with the same exception. An exception from take stops the workers
// (each finishes the item in hand) and goes on to the caller.
//
// One thread: everything happens on the calling thread, one item at a time.
#pragma once

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

template <class Item, class Make, class Work, class Take>
void RunOrdered(int nThreads, int nWindow, Make make, Work work, Take take) {
    if (nThreads <= 1) {
        Item item;
        for (long long k = 0; make(k, item); k++) {
            work(0, item);
            if (!take(k, item)) return;
        }
        return;
    }
    if (nWindow < nThreads) nWindow = nThreads;

    struct Slot {
        Item item;
        bool bDone = false;   // made and worked on, waiting to be taken
        std::exception_ptr error;
    };
    std::vector<Slot> slots((size_t)nWindow);
    std::mutex m;   // guards the counters and the slots' flags
    std::condition_variable cv;
    std::mutex makeLock;   // one maker at a time, in order
    long long nextMake = 0, nextTake = 0;
    bool bEnded = false, bStop = false;

    auto worker = [&](int w) {
        for (;;) {
            std::unique_lock<std::mutex> mk(makeLock);
            long long k;
            {
                std::unique_lock<std::mutex> lk(m);
                cv.wait(lk, [&] { return bStop || bEnded || nextMake - nextTake < nWindow; });
                if (bStop || bEnded) return;
                k = nextMake;
            }
            Slot& s = slots[(size_t)(k % nWindow)];
            bool bMade = false;
            try {
                bMade = make(k, s.item);
            } catch (...) {
                s.error = std::current_exception();
                bMade = true;
            }
            {
                std::lock_guard<std::mutex> lk(m);
                if (!bMade || s.error) bEnded = true;
                if (bMade) nextMake = k + 1;
            }
            mk.unlock();
            if (!bMade) {
                cv.notify_all();
                return;
            }
            if (!s.error) {
                try {
                    work(w, s.item);
                } catch (...) {
                    s.error = std::current_exception();
                }
            }
            {
                std::lock_guard<std::mutex> lk(m);
                s.bDone = true;
            }
            cv.notify_all();
        }
    };

    // Stops and joins the workers on every way out, before the slots go.
    struct Crew {
        std::vector<std::thread> threads;
        std::mutex& m;
        std::condition_variable& cv;
        bool& bStop;
        ~Crew() {
            {
                std::lock_guard<std::mutex> lk(m);
                bStop = true;
            }
            cv.notify_all();
            for (std::thread& t : threads) t.join();
        }
    } crew{{}, m, cv, bStop};
    for (int w = 0; w < nThreads; w++) crew.threads.emplace_back(worker, w);

    for (long long k = 0;; k++) {
        Slot& s = slots[(size_t)(k % nWindow)];
        {
            std::unique_lock<std::mutex> lk(m);
            cv.wait(lk, [&] { return s.bDone || (bEnded && nextMake == k); });
            if (!s.bDone) return;   // the sequence ended before item k
        }
        if (s.error) std::rethrow_exception(s.error);
        if (!take(k, s.item)) return;
        {
            std::lock_guard<std::mutex> lk(m);
            s.bDone = false;
            nextTake = k + 1;
        }
        cv.notify_all();
    }
}
