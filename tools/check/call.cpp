#include "call.h"

#include <memory>

#include "entry/trace.h"
#include "local_file.h"
#include "marvostell.h"
#include "trace_facts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#endif

namespace {

struct Event {
    bool isTrace;
    std::string text;
    uint64_t existingBytes;
    unsigned percent;
};

// The trace capture is a plain function; it reaches the running call here.
struct ActiveCall {
    std::string localDirPrefix;
    void (*deliver)(std::unique_ptr<Event> event) = nullptr;
};
ActiveCall g_call;

// Runs on the worker thread, inside the module's call, so the package file's
// size before the transfer is read before the transfer can change it.
void CaptureTrace(const char *text) {
    std::unique_ptr<Event> event(new Event{true, text, 0, 0});
    DownloadFacts download;
    if (ParseDownloadTrace(event->text, g_call.localDirPrefix, download))
        LocalFileSize(download.localPath, event->existingBytes);
    g_call.deliver(std::move(event));
}

void Dispatch(const Event &event, CallListener &listener) {
    if (event.isTrace)
        listener.OnTrace(event.text, event.existingBytes);
    else
        listener.OnProgress(event.percent);
}

#ifdef _WIN32
const UINT kProgressMessage = WM_APP + 1;
const UINT kTraceMessage = WM_APP + 2;
const UINT kDoneMessage = WM_APP + 3;

struct Worker {
    const CallArguments *arguments;
    HWND window;
    int result;
    char path[MAX_PATH + 1];
};
HWND g_window = nullptr;

void PostEvent(std::unique_ptr<Event> event) {
    if (PostMessageA(g_window, kTraceMessage, 0, reinterpret_cast<LPARAM>(event.get())))
        event.release();  // the message loop owns it now
}

DWORD WINAPI RunWorker(LPVOID parameter) {
    Worker *worker = static_cast<Worker *>(parameter);
    worker->result = CheckNewVersion(worker->window, kProgressMessage,
                                     worker->arguments->hostVersion,
                                     worker->arguments->url.c_str(),
                                     worker->arguments->dir.c_str(), worker->path);
    PostMessageA(worker->window, kDoneMessage, 0, 0);
    return 0;
}

}  // namespace

int RunCheck(const CallArguments &arguments, CallListener &listener, std::string &packagePath) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "MarvostellCheck";
    RegisterClassA(&windowClass);
    // A message-only window receives the progress posts on this thread.
    g_window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                               nullptr, windowClass.hInstance, nullptr);
    static Worker worker;
    worker = Worker{&arguments, g_window, 0, {}};
    g_call.localDirPrefix = arguments.localDirPrefix;
    marvostell::SetTraceCaptureForTesting(CaptureTrace);
    if (!g_window) {
        // No window: the call runs here, traces go straight to the listener
        // and no progress comes.
        static CallListener *direct;
        direct = &listener;
        g_call.deliver = [](std::unique_ptr<Event> event) { Dispatch(*event, *direct); };
        RunWorker(&worker);
    } else {
        g_call.deliver = PostEvent;
        HANDLE thread = CreateThread(nullptr, 0, RunWorker, &worker, 0, nullptr);
        if (!thread) RunWorker(&worker);
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (message.message == kDoneMessage) break;
            if (message.message == kProgressMessage) {
                listener.OnProgress(static_cast<unsigned>(message.wParam));
            } else if (message.message == kTraceMessage) {
                std::unique_ptr<Event> event(reinterpret_cast<Event *>(message.lParam));
                Dispatch(*event, listener);
            } else {
                DispatchMessageA(&message);
            }
        }
        if (thread) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        DestroyWindow(g_window);
    }
    marvostell::SetTraceCaptureForTesting(nullptr);
    packagePath = worker.path;
    return worker.result;
}
#else
// The library calls post() on the downloading thread; it queues the value and
// returns at once, and the calling thread hands it on.
struct Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<Event>> events;
    bool done = false;

    void Push(std::unique_ptr<Event> event) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(event));
        }
        changed.notify_one();
    }
};
Queue *g_queue = nullptr;

void Post(void *context, uint32_t, uintptr_t wparam, intptr_t) {
    static_cast<Queue *>(context)->Push(
        std::unique_ptr<Event>(new Event{false, {}, 0, static_cast<unsigned>(wparam)}));
}

}  // namespace

int RunCheck(const CallArguments &arguments, CallListener &listener, std::string &packagePath) {
    Queue queue;
    g_queue = &queue;
    g_call.localDirPrefix = arguments.localDirPrefix;
    g_call.deliver = [](std::unique_ptr<Event> event) { g_queue->Push(std::move(event)); };
    marvostell::SetTraceCaptureForTesting(CaptureTrace);

    MarvostellNotifyTarget target{Post, &queue};
    int result = 0;
    static char path[4096];
    std::thread worker([&] {
        result = CheckNewVersion(&target, 0, arguments.hostVersion, arguments.url.c_str(),
                                 arguments.dir.c_str(), path);
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.done = true;
        queue.changed.notify_one();
    });
    std::unique_lock<std::mutex> lock(queue.mutex);
    for (;;) {
        queue.changed.wait(lock, [&] { return queue.done || !queue.events.empty(); });
        while (!queue.events.empty()) {
            std::unique_ptr<Event> event = std::move(queue.events.front());
            queue.events.pop_front();
            lock.unlock();
            Dispatch(*event, listener);
            lock.lock();
        }
        if (queue.done) break;
    }
    lock.unlock();
    worker.join();
    marvostell::SetTraceCaptureForTesting(nullptr);
    g_queue = nullptr;
    packagePath = path;
    return result;
}
#endif
