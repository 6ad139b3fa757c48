// The Win32 error codes that the module and its tools report, each listed
// once with its number and a text. From these lists come the constants on
// POSIX (win32_posix.h; on Windows the SDK defines them and nothing here
// redefines one) and the names and texts the tools print (error_names.h).
#pragma once

// X(name, number, message): system and Windows Sockets codes, with the
// message Windows gives for them, or "" where the tools print the number
// alone.
#define MARVOSTELL_SYSTEM_ERROR_MAP(X)                                                    \
    X(ERROR_SUCCESS, 0, "")                                                               \
    X(ERROR_INVALID_FUNCTION, 1, "Incorrect function.")                                   \
    X(ERROR_FILE_NOT_FOUND, 2, "The system cannot find the file specified.")              \
    X(ERROR_PATH_NOT_FOUND, 3, "The system cannot find the path specified.")              \
    X(ERROR_TOO_MANY_OPEN_FILES, 4, "The system cannot open the file.")                   \
    X(ERROR_ACCESS_DENIED, 5, "Access is denied.")                                        \
    X(ERROR_INVALID_HANDLE, 6, "The handle is invalid.")                                  \
    X(ERROR_NOT_ENOUGH_MEMORY, 8,                                                         \
      "Not enough memory resources are available to process this command.")               \
    X(ERROR_NOT_SAME_DEVICE, 17, "")                                                      \
    X(ERROR_NO_MORE_FILES, 18, "")                                                        \
    X(ERROR_WRITE_PROTECT, 19, "")                                                        \
    X(ERROR_READ_FAULT, 30, "The system cannot read from the specified device.")         \
    X(ERROR_SHARING_VIOLATION, 32,                                                        \
      "The process cannot access the file because it is being used by another process.")  \
    X(ERROR_LOCK_VIOLATION, 33, "")                                                       \
    X(ERROR_HANDLE_EOF, 38, "")                                                           \
    X(ERROR_NOT_SUPPORTED, 50, "")                                                        \
    X(ERROR_FILE_EXISTS, 80, "The file exists.")                                          \
    X(ERROR_INVALID_PARAMETER, 87, "The parameter is incorrect.")                         \
    X(ERROR_DISK_FULL, 112, "There is not enough space on the disk.")                     \
    X(ERROR_INSUFFICIENT_BUFFER, 122, "The data area passed to a system call is too small.")                                                 \
    X(ERROR_INVALID_NAME, 123,                                                            \
      "The filename, directory name, or volume label syntax is incorrect.")               \
    X(ERROR_NEGATIVE_SEEK, 131, "")                                                       \
    X(ERROR_DIR_NOT_EMPTY, 145, "")                                                       \
    X(ERROR_ALREADY_EXISTS, 183, "Cannot create a file when that file already exists.")   \
    X(ERROR_FILENAME_EXCED_RANGE, 206, "The filename or extension is too long.")          \
    X(ERROR_FILE_TOO_LARGE, 223, "The file size exceeds the limit allowed and cannot be saved.") \
    X(ERROR_MORE_DATA, 234, "")                                                           \
    X(ERROR_IO_DEVICE, 1117, "")                                                          \
    X(ERROR_CANCELLED, 1223, "The operation was canceled by the user.")                   \
    X(ERROR_INVALID_WINDOW_HANDLE, 1400, "")                                              \
    X(ERROR_TIMEOUT, 1460, "This operation returned because the timeout period expired.") \
    X(ERROR_CANT_RESOLVE_FILENAME, 1921, "")                                              \
    X(WSAECONNRESET, 10054, "An existing connection was forcibly closed by the remote host.") \
    X(WSAETIMEDOUT, 10060, "")

// X(name, number, text): the WinINet codes, with a short text for those a
// publisher meets when a server cannot be reached, else "".
#define MARVOSTELL_INTERNET_ERROR_MAP(X)                                  \
    X(ERROR_INTERNET_OUT_OF_HANDLES, 12001, "")                           \
    X(ERROR_INTERNET_TIMEOUT, 12002, "time-out")                          \
    X(ERROR_INTERNET_EXTENDED_ERROR, 12003, "")                           \
    X(ERROR_INTERNET_INTERNAL_ERROR, 12004, "")                           \
    X(ERROR_INTERNET_INVALID_URL, 12005, "")                              \
    X(ERROR_INTERNET_UNRECOGNIZED_SCHEME, 12006, "")                      \
    X(ERROR_INTERNET_NAME_NOT_RESOLVED, 12007, "the server name does not resolve") \
    X(ERROR_INTERNET_PROTOCOL_NOT_FOUND, 12008, "")                       \
    X(ERROR_INTERNET_INVALID_OPTION, 12009, "")                           \
    X(ERROR_INTERNET_INVALID_OPERATION, 12016, "")                        \
    X(ERROR_INTERNET_OPERATION_CANCELLED, 12017, "")                      \
    X(ERROR_INTERNET_INCORRECT_HANDLE_TYPE, 12018, "")                    \
    X(ERROR_INTERNET_INCORRECT_HANDLE_STATE, 12019, "")                   \
    X(ERROR_INTERNET_CANNOT_CONNECT, 12029, "cannot connect")             \
    X(ERROR_INTERNET_CONNECTION_ABORTED, 12030, "connection aborted")     \
    X(ERROR_INTERNET_CONNECTION_RESET, 12031, "connection reset")         \
    X(ERROR_INTERNET_SEC_CERT_DATE_INVALID, 12037, "certificate expired or not yet valid") \
    X(ERROR_INTERNET_SEC_CERT_CN_INVALID, 12038, "certificate for another name") \
    X(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR, 12039, "")                   \
    X(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, 12040, "")                   \
    X(ERROR_INTERNET_INVALID_CA, 12045, "certificate issuer not trusted") \
    X(ERROR_HTTP_HEADER_NOT_FOUND, 12150, "")                             \
    X(ERROR_HTTP_INVALID_SERVER_RESPONSE, 12152, "")                      \
    X(ERROR_HTTP_INVALID_HEADER, 12153, "")                               \
    X(ERROR_HTTP_INVALID_QUERY_REQUEST, 12154, "")                        \
    X(ERROR_HTTP_REDIRECT_FAILED, 12156, "")                              \
    X(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, 12157, "")
