#include "call.h"

#include <functional>
#include <initializer_list>
#include <memory>

#include "marvostell.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>
#endif

using marvostell::CheckOutcome;
using marvostell::PackageEvent;
using marvostell::SelectionEvent;

namespace {

// An event with copies of its texts: the core's point into the reporting
// call's memory, which is gone by the time the calling thread reads them.
// Never moved once made, so the copied pointers stay valid.
struct Event {
    enum Kind { kProgress, kSelection, kPackage, kManifest };
    Kind kind = kProgress;
    unsigned percent = 0;
    marvostell::ManifestEvent manifest;
    SelectionEvent selection{SelectionEvent::kListEnd};
    PackageEvent package{PackageEvent::kEntry};
    std::string texts[8];

    void Keep(std::initializer_list<const char **> fields) {
        size_t slot = 0;
        for (const char **field : fields) {
            texts[slot] = *field;
            *field = texts[slot++].c_str();
        }
    }
};
using EventPtr = std::unique_ptr<Event>;

void Deliver(const Event &event, CallListener &listener) {
    switch (event.kind) {
    case Event::kProgress: listener.OnProgress(event.percent); break;
    case Event::kSelection: listener.OnSelectionEvent(event.selection); break;
    case Event::kPackage: listener.OnPackageEvent(event.package); break;
    case Event::kManifest: listener.OnManifestEvent(event.manifest); break;
    }
}

// The check's observer, on the worker thread: copies each event and hands it on.
class Forwarder : public marvostell::CCheckObserver {
public:
    explicit Forwarder(std::function<void(EventPtr)> handOn) : m_handOn(std::move(handOn)) {}

    void OnSelectionEvent(const SelectionEvent &e) override {
        EventPtr event(new Event);
        event->kind = Event::kSelection;
        event->selection = e;
        SelectionEvent &s = event->selection;
        event->Keep({&s.package, &s.section, &s.key, &s.text});
        m_handOn(std::move(event));
    }
    void OnPackageEvent(const PackageEvent &e) override {
        EventPtr event(new Event);
        event->kind = Event::kPackage;
        event->package = e;
        PackageEvent &p = event->package;
        event->Keep({&p.section, &p.path, &p.localPath, &p.movedTo, &p.computed, &p.expected,
                     &p.computedSha256, &p.expectedSha256});
        m_handOn(std::move(event));
    }

    void OnManifestEvent(const marvostell::ManifestEvent &e) override {
        EventPtr event(new Event);
        event->kind = Event::kManifest;
        event->manifest = e;
        m_handOn(std::move(event));
    }

private:
    std::function<void(EventPtr)> m_handOn;
};

// The check itself; RunUpdateCheck lets no exception out.
CheckOutcome Run(const CallArguments &arguments, HWND notifyWnd, uint32_t notifyMsg,
                 Forwarder &forwarder) {
    marvostell::CheckRequest request{notifyWnd, notifyMsg, arguments.hostVersion,
                                     arguments.url.c_str(), arguments.dir.c_str()};
    request.options = &arguments.options;
    return marvostell::RunUpdateCheck(request, &forwarder);
}

CallResult Finish(const CheckOutcome &outcome) {
    // The export's own conversion, with the buffer a host passes.
    return {outcome, marvostell::FinishCheck(outcome, nullptr, MARVOSTELL_PATH_BUFFER_SIZE)};
}

#ifdef _WIN32
const UINT kProgressMessage = WM_APP + 1;
const UINT kEventMessage = WM_APP + 2;
const UINT kDoneMessage = WM_APP + 3;
const UINT_PTR kIdleTimer = 1;
const UINT kIdleMilliseconds = 100;

struct Worker {
    const CallArguments *arguments;
    HWND window;
    Forwarder *forwarder;
    CheckOutcome outcome;
};

DWORD WINAPI RunWorker(LPVOID parameter) {
    Worker *worker = static_cast<Worker *>(parameter);
    worker->outcome = Run(*worker->arguments, worker->window, kProgressMessage, *worker->forwarder);
    if (worker->window) PostMessageA(worker->window, kDoneMessage, 0, 0);
    return 0;
}

}  // namespace

CallResult RunCheck(const CallArguments &arguments, CallListener &listener) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "MarvostellCheck";
    RegisterClassA(&windowClass);
    // A message-only window receives the progress posts on this thread.
    const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0,
                                       HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    if (!window) {
        // No window: the check runs here, its events go straight to the
        // listener and no progress comes.
        Forwarder direct([&](EventPtr event) { Deliver(*event, listener); });
        return Finish(Run(arguments, nullptr, 0, direct));
    }
    Forwarder forwarder([window](EventPtr event) {
        if (PostMessageA(window, kEventMessage, 0, reinterpret_cast<LPARAM>(event.get())))
            event.release();  // the message loop owns it now
    });
    Worker worker{&arguments, window, &forwarder, {}};
    HANDLE thread = CreateThread(nullptr, 0, RunWorker, &worker, 0, nullptr);
    if (!thread) RunWorker(&worker);
    SetTimer(window, kIdleTimer, kIdleMilliseconds, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == kDoneMessage) break;
        if (message.message == WM_TIMER && message.hwnd == window) {
            listener.OnIdle();
        } else if (message.message == kProgressMessage) {
            listener.OnProgress(static_cast<unsigned>(message.wParam));
        } else if (message.message == kEventMessage) {
            const EventPtr event(reinterpret_cast<Event *>(message.lParam));
            Deliver(*event, listener);
        } else {
            DispatchMessageA(&message);
        }
    }
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    KillTimer(window, kIdleTimer);
    DestroyWindow(window);
    return Finish(worker.outcome);
}
#else
// The library calls post() on the checking thread, and the forwarder runs
// there too; both queue and return at once, and the calling thread hands the
// values on.
constexpr std::chrono::milliseconds kIdleTime{100};

struct Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<EventPtr> events;
    bool done = false;

    void Push(EventPtr event) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(event));
        }
        changed.notify_one();
    }
};

void Post(void *context, uint32_t, uintptr_t wparam, intptr_t) {
    EventPtr event(new Event);
    event->percent = static_cast<unsigned>(wparam);
    static_cast<Queue *>(context)->Push(std::move(event));
}

}  // namespace

CallResult RunCheck(const CallArguments &arguments, CallListener &listener) {
    Queue queue;
    Forwarder forwarder([&queue](EventPtr event) { queue.Push(std::move(event)); });
    MarvostellNotifyTarget target{Post, &queue};
    CheckOutcome outcome;
    // The check's threads (this worker and those it starts) leave SIGINT to
    // this one, so that a Ctrl-C handler never interrupts a transfer's wait.
    sigset_t interrupt, before;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, &before);
    std::thread worker([&] {
        outcome = Run(arguments, &target, 0, forwarder);
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.done = true;
        queue.changed.notify_one();
    });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    std::unique_lock<std::mutex> lock(queue.mutex);
    for (;;) {
        const bool woken = queue.changed.wait_for(lock, kIdleTime, [&] {
            return queue.done || !queue.events.empty();
        });
        if (!woken) {
            lock.unlock();
            listener.OnIdle();
            lock.lock();
            continue;
        }
        while (!queue.events.empty()) {
            const EventPtr event = std::move(queue.events.front());
            queue.events.pop_front();
            lock.unlock();
            Deliver(*event, listener);
            lock.lock();
        }
        if (queue.done) break;
    }
    lock.unlock();
    worker.join();
    return Finish(outcome);
}
#endif
