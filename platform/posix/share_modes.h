// Internal to platform/posix: Windows share modes on POSIX descriptors.
//
// Two locks model what another opener, and a rename or delete, may do while
// a handle is open:
//  - a flock() on the handle's descriptor: exclusive when the share mode lets
//    no one else read or write, shared otherwise, so a conflicting opener
//    fails with ERROR_SHARING_VIOLATION;
//  - an open-file-description read lock over the whole file while the handle
//    lacks FILE_SHARE_DELETE: MoveFileA and DeleteFileA look for it and refuse
//    with ERROR_SHARING_VIOLATION, as Windows refuses to rename or delete a
//    file that a handle holds without FILE_SHARE_DELETE.
// Both kinds belong to the open file description, so two handles in one
// process conflict as two processes do, and both end with the descriptor.
#pragma once

#include "win32_posix.h"

namespace marvostell::posix {

// Takes the locks for a handle with this share mode on fd. readable tells
// whether fd was opened for reading (the delete lock needs it). Returns
// ERROR_SUCCESS, or the error for the open that must fail.
DWORD LockForShareMode(int fd, DWORD shareMode, bool readable);

// ERROR_SUCCESS when no handle stops the file at path from being renamed or
// deleted, else ERROR_SHARING_VIOLATION. A symbolic link is the link itself,
// which no handle holds; a file this process cannot open is not looked into.
DWORD CheckNoHandleDeniesDelete(const char *path);

}  // namespace marvostell::posix
