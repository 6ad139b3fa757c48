/* A Linux host: checks for an update on a worker thread and draws the
 * download's progress on the main thread; Ctrl-C cancels the check.
 *
 *   linux-host URL DIR VERSION
 *
 * The library calls the notify target's post() on the downloading thread;
 * post() only writes the percentage into a pipe and returns. The main thread
 * reads the pipe and draws; the worker closes its end when the check is over.
 * SIGINT sets the cancel flag of the CheckNewVersionEx call, which then
 * returns MARVOSTELL_CANCELLED within a second and keeps the partial
 * download for the next check. The offer tells what the publisher wrote for
 * people: the version as they know it, the release notes, critical or not.
 * Exit status: 0 up to date or updated, 1 the check failed, 2 usage,
 * 130 cancelled. */
#define _POSIX_C_SOURCE 200809L
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "marvostell.h"

/* Set by the SIGINT handler, read by the module's threads. A store to an
 * aligned 32-bit int is atomic wherever Linux runs (sig_atomic_t is int). */
static volatile int32_t cancel_flag;

static void on_interrupt(int signal_number) {
    (void)signal_number;
    cancel_flag = 1;
}

struct check {
    const char *url;
    const char *dir;
    uint32_t version;
    int progress_fd; /* the pipe's write end */
    int result;
    char path[MARVOSTELL_PATH_BUFFER_SIZE];
    MarvostellOffer offer;
};

static void post_progress(void *context, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    const unsigned char percent = wparam > 100 ? 100 : (unsigned char)wparam;
    /* The write end does not block: a full pipe drops one value rather than
     * hold up the download. */
    ssize_t written = write(*(const int *)context, &percent, 1);
    (void)written;
    (void)message;
    (void)lparam;
}

static void *run_check(void *argument) {
    struct check *check = argument;
    MarvostellNotifyTarget target;
    MarvostellOptions options;
    target.post = post_progress;
    target.context = &check->progress_fd;
    memset(&options, 0, sizeof options);
    options.size = sizeof options;
    options.cancel = &cancel_flag;
    memset(&check->offer, 0, sizeof check->offer);
    check->offer.size = sizeof check->offer;
    check->result = CheckNewVersionEx(&target, 0, check->version, check->url, check->dir,
                                      check->path, sizeof check->path, &options, &check->offer);
    close(check->progress_fd);
    return NULL;
}

static void draw(unsigned percent, int terminal) {
    if (terminal) {
        char bar[41];
        unsigned i;
        for (i = 0; i < 40; ++i) bar[i] = i < percent * 40 / 100 ? '#' : '.';
        bar[40] = '\0';
        fprintf(stderr, "\r[%s] %3u%%", bar, percent);
    } else {
        fprintf(stderr, "progress %u%%\n", percent);
    }
}

static void describe(const struct check *check) {
    const int result = check->result;
    switch (result) {
    case MARVOSTELL_UPDATED:
        printf("Update downloaded and verified: %s\n", check->path);
        if (check->offer.displayVersion[0]) printf("Version %s\n", check->offer.displayVersion);
        if (check->offer.flags & MARVOSTELL_OFFER_CRITICAL) puts("A critical update: install it now.");
        if (check->offer.notesUrl[0]) printf("What is new: %s\n", check->offer.notesUrl);
        puts("The host runs or installs it now (it is not started for you).");
        return;
    case MARVOSTELL_UP_TO_DATE: puts("Up to date: no newer version is offered."); return;
    case MARVOSTELL_ERR_SOCKETS: puts("Failed: the socket layer cannot be started."); return;
    case MARVOSTELL_ERR_BAD_URL: puts("Failed: the URL has no path after the host name."); return;
    case MARVOSTELL_ERR_PACKAGE_ENTRY: puts("Failed: the manifest's package entry is unusable."); return;
    case MARVOSTELL_ERR_DIGEST_MISMATCH:
        puts("Failed: the package does not match its MD5 digest (set aside as .err).");
        return;
    case 401:
    case 407: printf("Failed: the server asks for authentication (%d).\n", result); return;
    case MARVOSTELL_ERR_UNEXPECTED: puts("Failed: unexpected failure inside the module."); return;
    case MARVOSTELL_ERR_NOT_A_MANIFEST: puts("Failed: the server's answer is not a manifest."); return;
    case MARVOSTELL_CANCELLED: puts("Cancelled; the next check resumes the download."); return;
    default: break;
    }
    if (result & MARVOSTELL_LOCAL_FILE_FLAG)
        printf("Failed: a local file cannot be written, or the package request failed "
               "(error %d).\n", result & 0x7fffffff);
    else
        printf("Failed: the manifest cannot be fetched (error %d).\n", result);
}

int main(int argc, char **argv) {
    struct check check;
    pthread_t worker;
    struct sigaction interrupt;
    sigset_t blocked, before;
    int fds[2];
    unsigned char values[128];
    ssize_t got;
    int drew = 0;
    const int terminal = isatty(STDERR_FILENO);

    if (argc != 4) {
        fprintf(stderr, "usage: linux-host URL DIR VERSION\n");
        return 2;
    }
    /* A write past a file-size limit then fails the check instead of ending
     * the process. */
    signal(SIGXFSZ, SIG_IGN);

    memset(&check, 0, sizeof check);
    check.url = argv[1];
    check.dir = argv[2];
    check.version = (uint32_t)strtoul(argv[3], NULL, 0);
    if (pipe(fds) != 0 || fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0) {
        perror("pipe");
        return 1;
    }
    check.progress_fd = fds[1];
    memset(&interrupt, 0, sizeof interrupt);
    interrupt.sa_handler = on_interrupt;
    interrupt.sa_flags = SA_RESTART; /* the pipe's read goes on */
    sigaction(SIGINT, &interrupt, NULL);
    /* The worker, and the threads the module starts from it, leave SIGINT
     * to this thread. */
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    pthread_sigmask(SIG_BLOCK, &blocked, &before);
    if (pthread_create(&worker, NULL, run_check, &check) != 0) {
        fputs("cannot start the worker thread\n", stderr);
        return 1;
    }
    pthread_sigmask(SIG_SETMASK, &before, NULL);
    while ((got = read(fds[0], values, sizeof values)) > 0) {
        /* Several values at once: draw the newest. */
        draw(values[got - 1], terminal);
        drew = 1;
    }
    pthread_join(worker, NULL);
    close(fds[0]);
    if (drew && terminal) fputc('\n', stderr);
    describe(&check);
    if (check.result == MARVOSTELL_CANCELLED) return 130;
    return check.result == MARVOSTELL_UPDATED || check.result == MARVOSTELL_UP_TO_DATE ? 0 : 1;
}
