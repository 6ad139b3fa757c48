/* A Win32 GUI host: runs the update check on a worker thread and shows its
 * progress in a progress bar on the UI thread; its Cancel button stops it.
 *
 *   gui-host [--exit-when-done] [--cancel-at PERCENT] [--dll-dir DIR]
 *            [--trusted-keys KEYS] URL DIR VERSION
 *
 * Marvostell.dll is loaded by full path (marvostell_load.h) from DIR given by
 * --dll-dir, or else from this program's folder. The window is the module's
 * own progress dialog (resource 2000, its progress bar also 2000), created
 * from the loaded module. The worker thread calls CheckNewVersionEx with that
 * dialog as the progress window: the progress messages are posted to the UI
 * thread, which moves the bar while the download goes on. Cancel sets the
 * call's cancel flag from the UI thread; the call then returns
 * MARVOSTELL_CANCELLED within a second, keeping the partial download for the
 * next check. When the call returns, the worker posts the result and the
 * window shows it in words, with the version as people know it and whether
 * the update is critical, from the offer. (A DLL older than CheckNewVersionEx gets
 * CheckNewVersion, which cannot be stopped: Cancel stays greyed.)
 *
 * The host runs what it downloads, so it passes its publisher's public keys:
 * the module then accepts only a manifest signed with one of them.
 * --exit-when-done closes the window as soon as the check ends and prints the
 * outcome, the bar's last position, the number of progress messages and
 * whether the last text fits its label (for tests and scripts). --cancel-at presses Cancel once the download
 * reaches PERCENT. Exit status: 0 up to date or updated, 1 the check failed
 * or was cancelled, 2 usage or the DLL cannot be loaded. */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "marvostell_load.h"

#define IDD_UPDATE_PROGRESS 2000 /* the module's progress dialog */
#define IDC_UPDATE_PROGRESS 2000 /* its progress bar */
#define IDC_UPDATE_TIP 2001      /* its line of text */

/* The publisher's public keys, as `marvostell-manifest keygen` printed them,
 * separated by a comma while the publisher moves to a new key. Build with
 * -DPUBLISHER_KEYS=KEY (CMake) to put yours in; --trusted-keys replaces them
 * at run time, to try the example against a server whose manifest you signed. */
#ifndef PUBLISHER_KEYS
#define PUBLISHER_KEYS NULL
#endif

#define WM_CHECK_PROGRESS (WM_APP + 1) /* from the module; wParam: percent */
#define WM_CHECK_DONE (WM_APP + 2)     /* from the worker once the call returned */

struct host {
    MarvostellLibrary marvostell;
    const char *url;
    const char *dir;
    const char *keys;
    uint32_t version;
    int exit_when_done;
    int cancel_at; /* -1: never */
    volatile int32_t cancel;
    HWND dialog;
    HANDLE worker;
    int result;
    char path[MARVOSTELL_PATH_BUFFER_SIZE];
    MarvostellOffer offer;
    unsigned messages;
    int bar;
    int fits; /* the last text fits its label */
    char text[128];
};

static DWORD WINAPI check_worker(LPVOID parameter) {
    struct host *host = (struct host *)parameter;
    MarvostellOptions options;
    memset(&options, 0, sizeof options);
    options.size = sizeof options;
    options.cancel = &host->cancel;
    options.trustedKeys = host->keys;
    memset(&host->offer, 0, sizeof host->offer);
    host->offer.size = sizeof host->offer;
    if (host->marvostell.CheckNewVersionEx)
        host->result = host->marvostell.CheckNewVersionEx(
            host->dialog, WM_CHECK_PROGRESS, host->version, host->url, host->dir, host->path,
            sizeof host->path, &options, &host->offer);
    else
        host->result = host->marvostell.CheckNewVersion(host->dialog, WM_CHECK_PROGRESS,
                                                        host->version, host->url, host->dir,
                                                        host->path);
    PostMessageA(host->dialog, WM_CHECK_DONE, 0, 0);
    return 0;
}

/* The result in words short enough for the dialog's line of text. An older
 * DLL leaves the offer's later fields empty. */
static void describe(int result, const char *path, const MarvostellOffer *offer, char *text,
                     size_t size) {
    const char *name = strrchr(path, '\\');
    switch (result) {
    case MARVOSTELL_UPDATED:
        snprintf(text, size, "Update ready: %s%s%s%s", name ? name + 1 : path,
                 offer->displayVersion[0] ? ", version " : "", offer->displayVersion,
                 (offer->flags & MARVOSTELL_OFFER_CRITICAL) ? " (critical)" : "");
        return;
    case MARVOSTELL_UP_TO_DATE: snprintf(text, size, "Up to date."); return;
    case MARVOSTELL_ERR_SOCKETS: snprintf(text, size, "Network layer unavailable."); return;
    case MARVOSTELL_ERR_BAD_URL: snprintf(text, size, "Bad update URL."); return;
    case MARVOSTELL_ERR_PACKAGE_ENTRY: snprintf(text, size, "Bad package entry."); return;
    case MARVOSTELL_ERR_DIGEST_MISMATCH: snprintf(text, size, "Download corrupt (MD5)."); return;
    case 401:
    case 407: snprintf(text, size, "The server wants a password."); return;
    case MARVOSTELL_ERR_UNEXPECTED: snprintf(text, size, "Unexpected failure."); return;
    case MARVOSTELL_ERR_NOT_A_MANIFEST: snprintf(text, size, "The server sent no update list."); return;
    case MARVOSTELL_ERR_SIGNATURE: snprintf(text, size, "The update list is not signed by the publisher."); return;
    case MARVOSTELL_CANCELLED:
        snprintf(text, size, "Cancelled. The next check resumes the download.");
        return;
    default: break;
    }
    if (result & MARVOSTELL_LOCAL_FILE_FLAG)
        snprintf(text, size, "Cannot save the download (%d).", result & 0x7fffffff);
    else
        snprintf(text, size, "Cannot reach the server (%d).", result);
}

/* The dialog's line of text holds one line; the results need two. The label
 * takes the dialog's width and the room above the bar. */
static void widen_label(HWND dialog) {
    RECT bar, client, label;
    POINT top;
    HWND tip = GetDlgItem(dialog, IDC_UPDATE_TIP);
    GetClientRect(dialog, &client);
    GetWindowRect(GetDlgItem(dialog, IDC_UPDATE_PROGRESS), &bar);
    GetWindowRect(tip, &label);
    top.x = bar.left;
    top.y = label.top;
    ScreenToClient(dialog, &top);
    MapWindowPoints(NULL, dialog, (POINT *)&bar, 2);
    MoveWindow(tip, top.x, top.y - (bar.top - top.y) / 3, bar.right - bar.left,
               (bar.top - top.y) * 4 / 3 - 2, FALSE);
}

/* Whether the label shows the whole text, with its words wrapped. */
static int label_fits(HWND tip, const char *text) {
    RECT room, need;
    HDC dc = GetDC(tip);
    HFONT old = (HFONT)SelectObject(dc, (HFONT)SendMessageA(tip, WM_GETFONT, 0, 0));
    GetClientRect(tip, &room);
    need = room;
    DrawTextA(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(tip, dc);
    return need.right <= room.right && need.bottom <= room.bottom;
}

static INT_PTR CALLBACK dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    struct host *host = (struct host *)GetWindowLongPtrA(dialog, DWLP_USER);
    if (!host && message != WM_INITDIALOG) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        host = (struct host *)lparam;
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        SendDlgItemMessageA(dialog, IDC_UPDATE_PROGRESS, PBM_SETRANGE32, 0, 100);
        widen_label(dialog);
        SetDlgItemTextA(dialog, IDC_UPDATE_TIP, "Checking for a newer version...");
        /* CheckNewVersion cannot be stopped: the button closes once it is over. */
        EnableWindow(GetDlgItem(dialog, IDCANCEL), host->marvostell.CheckNewVersionEx != NULL);
        return TRUE;
    case WM_CHECK_PROGRESS: {
        /* More bytes than the manifest declared can take it past 100. */
        const unsigned percent = wparam > 100 ? 100 : (unsigned)wparam;
        char text[64];
        ++host->messages;
        SendDlgItemMessageA(dialog, IDC_UPDATE_PROGRESS, PBM_SETPOS, percent, 0);
        snprintf(text, sizeof text, "Downloading the update: %u%%", percent);
        SetDlgItemTextA(dialog, IDC_UPDATE_TIP, text);
        if (host->cancel_at >= 0 && percent >= (unsigned)host->cancel_at)
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    case WM_CHECK_DONE:
        WaitForSingleObject(host->worker, INFINITE);
        CloseHandle(host->worker);
        host->worker = NULL;
        host->bar = (int)SendDlgItemMessageA(dialog, IDC_UPDATE_PROGRESS, PBM_GETPOS, 0, 0);
        describe(host->result, host->path, &host->offer, host->text, sizeof host->text);
        SetDlgItemTextA(dialog, IDC_UPDATE_TIP, host->text);
        host->fits = label_fits(GetDlgItem(dialog, IDC_UPDATE_TIP), host->text);
        SetDlgItemTextA(dialog, IDCANCEL, "Close");
        EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
        if (host->exit_when_done) DestroyWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) != IDCANCEL) return TRUE;
        if (!host->worker) {
            DestroyWindow(dialog);
        } else if (!host->cancel) {
            /* The worker's call sees the flag and returns; WM_CHECK_DONE follows. */
            host->cancel = 1;
            EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
            SetDlgItemTextA(dialog, IDC_UPDATE_TIP, "Cancelling...");
        }
        return TRUE;
    case WM_CLOSE:
        /* Closing the window while the check runs cancels it. */
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}

static int fail(const struct host *host, const char *text) {
    if (host->exit_when_done) fprintf(stderr, "gui-host: %s\n", text);
    else MessageBoxA(NULL, text, "Update check", MB_ICONERROR | MB_OK);
    return 2;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    static struct host host;
    const char *dll_dir = NULL;
    const char *positional[3];
    int count = 0, i;
    host.cancel_at = -1;
    host.keys = PUBLISHER_KEYS;
    INITCOMMONCONTROLSEX controls;
    MSG message;
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;

    for (i = 1; i < __argc; ++i) {
        if (strcmp(__argv[i], "--exit-when-done") == 0) host.exit_when_done = 1;
        else if (strcmp(__argv[i], "--cancel-at") == 0 && i + 1 < __argc) host.cancel_at = atoi(__argv[++i]);
        else if (strcmp(__argv[i], "--dll-dir") == 0 && i + 1 < __argc) dll_dir = __argv[++i];
        else if (strcmp(__argv[i], "--trusted-keys") == 0 && i + 1 < __argc) host.keys = __argv[++i];
        else if (count < 3) positional[count++] = __argv[i];
        else count = 4;
    }
    if (count != 3)
        return fail(&host, "usage: gui-host [--exit-when-done] [--cancel-at PERCENT] [--dll-dir DIR] "
                           "[--trusted-keys KEYS] URL DIR VERSION");
    if (!host.keys)
        return fail(&host, "no publisher key: build with -DPUBLISHER_KEYS or pass --trusted-keys");
    host.url = positional[0];
    host.dir = positional[1];
    host.version = (uint32_t)strtoul(positional[2], NULL, 0);

    if (!MarvostellLoad(&host.marvostell, dll_dir)) return fail(&host, host.marvostell.error);

    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
    host.dialog = CreateDialogParamA(host.marvostell.module, MAKEINTRESOURCEA(IDD_UPDATE_PROGRESS),
                                     NULL, dialog_proc, (LPARAM)&host);
    if (!host.dialog) {
        char text[96];
        snprintf(text, sizeof text, "cannot create the progress window (error %lu)",
                 (unsigned long)GetLastError());
        return fail(&host, text);
    }
    ShowWindow(host.dialog, SW_SHOW);

    host.worker = CreateThread(NULL, 0, check_worker, &host, 0, NULL);
    if (!host.worker) {
        DestroyWindow(host.dialog);
        return fail(&host, "cannot start the worker thread");
    }
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(host.dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    MarvostellUnload(&host.marvostell);

    if (host.exit_when_done) {
        printf("result=%d\ntext=%s\npath=%s\nnotes=%s\nbar=%d\nmessages=%u\nfits=%d\n", host.result,
               host.text, host.result == MARVOSTELL_UPDATED ? host.path : "", host.offer.notesUrl,
               host.bar, host.messages, host.fits);
        fflush(stdout);
    }
    return host.result == MARVOSTELL_UPDATED || host.result == MARVOSTELL_UP_TO_DATE ? 0 : 1;
}
