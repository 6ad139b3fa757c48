// Marvostell for C#: CheckNewVersionEx through P/Invoke, with the
// structures of marvostell.h in their exact layout, and a CancellationToken
// that sets the call's cancel flag.
//
// "marvostell" is Marvostell.dll on Windows (the DLL of the process's width,
// beside the program) and libmarvostell.so on Linux (Mono maps it to
// libmarvostell.so.1 through MarvostellHost.exe.config).
using System;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Marvostell
{
    public static class Result
    {
        public const int UpToDate = 0, Updated = 1, Available = 2, Sockets = 3, BadUrl = 4,
            PackageEntry = 5, DigestMismatch = 6, Signature = 7, NotAManifest = 9,
            Cancelled = 1223, TimedOut = 1460, Unexpected = -1;
        public const int LocalFileFlag = unchecked((int)0x80000000);
    }

    [Flags]
    public enum CheckFlags : uint { None = 0, CheckOnly = 0x1, UseHttps = 0x2, IgnoreRollout = 0x4 }

    [Flags]
    public enum OfferFlags : uint { None = 0, Critical = 0x1, Patch = 0x2, Staged = 0x4 }

    // typedef struct MarvostellOptions: pointers are IntPtr, so the layout
    // follows the process's width as the C structure does.
    [StructLayout(LayoutKind.Sequential)]
    public struct Options
    {
        public uint size;
        public CheckFlags flags;
        public IntPtr trustedKeys;      // const char *: an ANSI string, or zero
        public IntPtr cancel;           // volatile int32_t *: a pinned int, or zero
        public uint deadlineSeconds;
        public uint stallSeconds;
        public IntPtr userAgent;        // const char *
    }

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Ansi)]
    public struct Offer
    {
        public uint size;
        public uint version;
        public uint packageSize;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 256)]
        public string section;
        public OfferFlags flags;
        public uint downloadSize;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 64)]
        public string displayVersion;   // DisplayVersion=, empty when absent
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 1024)]
        public string notesUrl;         // Notes=, empty when absent
    }

    // typedef struct MarvostellNotifyTarget (Linux): post() runs on the
    // calling thread during the download and must return at once.
    [StructLayout(LayoutKind.Sequential)]
    struct NotifyTarget
    {
        public IntPtr post;
        public IntPtr context;
    }

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate void PostFn(IntPtr context, uint message, UIntPtr wparam, IntPtr lparam);

    public static class Native
    {
        const string Library = "marvostell";

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int CheckNewVersionEx(IntPtr hNotifyWnd, uint nNotifyMsg,
            uint dwCurrentVersion, [MarshalAs(UnmanagedType.LPStr)] string lpszManifestUrl,
            [MarshalAs(UnmanagedType.LPStr)] string lpszLocalDir, byte[] lpszPackagePath,
            uint nPackagePathSize, ref Options options, ref Offer offer);
    }

    public sealed class Check
    {
        public string TrustedKeys;           // the publisher's public keys, or null
        public CheckFlags Flags;
        public uint DeadlineSeconds, StallSeconds;
        public string UserAgent;
        public Action<int> Progress;         // percent; called on the checking thread
        public Offer Offer;
        public string PackagePath;

        // Runs one check on the calling thread (a worker: it blocks until the
        // download is over). Cancelling the token makes it return
        // Result.Cancelled within a second, the partial package kept.
        public int Run(string url, string directory, uint version, CancellationToken token)
        {
            // The module reads the flag from its own thread while the call
            // runs: an int the collector must not move.
            int[] flag = new int[1];
            GCHandle pinned = GCHandle.Alloc(flag, GCHandleType.Pinned);
            IntPtr keys = Ansi(TrustedKeys), agent = Ansi(UserAgent), target = IntPtr.Zero;
            PostFn post = OnPost;
            try
            {
                var options = new Options
                {
                    size = (uint)Marshal.SizeOf(typeof(Options)), flags = Flags,
                    trustedKeys = keys, cancel = pinned.AddrOfPinnedObject(),
                    deadlineSeconds = DeadlineSeconds, stallSeconds = StallSeconds,
                    userAgent = agent,
                };
                var offer = new Offer
                {
                    size = (uint)Marshal.SizeOf(typeof(Offer)), section = "", displayVersion = "", notesUrl = "",
                };
                // On Windows progress goes to a window: this console host has none.
                if (Progress != null && Environment.OSVersion.Platform == PlatformID.Unix)
                {
                    target = Marshal.AllocHGlobal(Marshal.SizeOf(typeof(NotifyTarget)));
                    Marshal.StructureToPtr(new NotifyTarget
                    {
                        post = Marshal.GetFunctionPointerForDelegate(post), context = IntPtr.Zero,
                    }, target, false);
                }
                byte[] path = new byte[4096];
                int result;
                using (token.Register(() => Volatile.Write(ref flag[0], 1)))
                {
                    result = Native.CheckNewVersionEx(target, 0, version, url, directory, path,
                        (uint)path.Length, ref options, ref offer);
                }
                Offer = offer;
                int end = Array.IndexOf(path, (byte)0);
                PackagePath = result == Result.Updated
                    ? Encoding.UTF8.GetString(path, 0, end < 0 ? path.Length : end) : null;
                return result;
            }
            finally
            {
                GC.KeepAlive(post);
                if (target != IntPtr.Zero) Marshal.FreeHGlobal(target);
                Marshal.FreeHGlobal(keys);
                Marshal.FreeHGlobal(agent);
                pinned.Free();
            }
        }

        void OnPost(IntPtr context, uint message, UIntPtr wparam, IntPtr lparam)
        {
            Progress((int)Math.Min(wparam.ToUInt64(), 100));
        }

        static IntPtr Ansi(string text)
        {
            return text == null ? IntPtr.Zero : Marshal.StringToHGlobalAnsi(text);
        }
    }
}
