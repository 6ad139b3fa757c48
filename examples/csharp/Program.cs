// A C# console host: checks for an update on a worker task, shows the
// download's progress on the main thread; Ctrl-C cancels the check.
//
//   mono MarvostellHost.exe [--trusted-keys KEYS] [--cancel-at PERCENT] URL DIR VERSION
//   mono MarvostellHost.exe --layout
//
// --cancel-at cancels the check once the download reaches PERCENT, as Ctrl-C
// does (for tests and scripts). --layout prints the structures' sizes and field offsets as the runtime
// marshals them, to compare with the C header's.
// Exit status: 0 up to date or updated, 1 the check failed, 2 usage,
// 130 cancelled.
using System;
using System.Collections.Concurrent;
using System.Runtime.InteropServices;
using System.Threading;
using System.Threading.Tasks;

namespace Marvostell
{
    static class Program
    {
        static int Main(string[] args)
        {
            if (args.Length == 1 && args[0] == "--layout")
            {
                PrintLayout();
                return 0;
            }
            var check = new Check();
            int first = 0, cancelAt = -1;
            for (; first + 1 < args.Length && args[first].StartsWith("--"); first += 2)
            {
                if (args[first] == "--trusted-keys") check.TrustedKeys = args[first + 1];
                else if (args[first] != "--cancel-at" || !int.TryParse(args[first + 1], out cancelAt))
                    break;
            }
            uint version;
            if (args.Length - first != 3 || !TryParseVersion(args[first + 2], out version))
            {
                Console.Error.WriteLine(
                    "usage: MarvostellHost.exe [--trusted-keys KEYS] [--cancel-at PERCENT] URL DIR VERSION");
                return 2;
            }

            // post() must return at once: it only queues the value.
            var progress = new BlockingCollection<int>();
            check.Progress = percent => progress.Add(percent);
            var cancel = new CancellationTokenSource();
            Console.CancelKeyPress += (sender, e) => { e.Cancel = true; cancel.Cancel(); };

            var worker = Task.Run(() =>
            {
                try { return check.Run(args[first], args[first + 1], version, cancel.Token); }
                finally { progress.CompleteAdding(); }
            });
            foreach (int percent in progress.GetConsumingEnumerable())
            {
                Console.Error.WriteLine("progress {0}%", percent);
                if (cancelAt >= 0 && percent >= cancelAt) cancel.Cancel();
            }
            int result = worker.Result;
            Console.WriteLine(Describe(result, check.PackagePath));
            // What the publisher says of the release, for the person who updates.
            if (result == Result.Updated && check.Offer.displayVersion.Length > 0)
                Console.WriteLine("Version {0}{1}", check.Offer.displayVersion,
                    (check.Offer.flags & OfferFlags.Critical) != 0 ? " (critical)" : "");
            if (result == Result.Updated && check.Offer.notesUrl.Length > 0)
                Console.WriteLine("What is new: {0}", check.Offer.notesUrl);
            if (result == Result.Cancelled) return 130;
            return result == Result.Updated || result == Result.UpToDate ? 0 : 1;
        }

        static bool TryParseVersion(string text, out uint version)
        {
            if (text.StartsWith("0x", StringComparison.OrdinalIgnoreCase))
                return uint.TryParse(text.Substring(2), System.Globalization.NumberStyles.HexNumber,
                    null, out version);
            return uint.TryParse(text, out version);
        }

        static string Describe(int result, string path)
        {
            switch (result)
            {
            case Result.Updated:
                return "Update downloaded and verified: " + path +
                    "\nThe host runs or installs it now (it is not started for you).";
            case Result.UpToDate: return "Up to date: no newer version is offered.";
            case Result.Sockets: return "Failed: the socket layer cannot be started.";
            case Result.BadUrl: return "Failed: the URL has no path after the host name.";
            case Result.PackageEntry: return "Failed: the manifest's package entry is unusable.";
            case Result.DigestMismatch:
                return "Failed: the package does not match its MD5 digest (set aside as .err).";
            case Result.Signature: return "Failed: the manifest is not signed by the publisher.";
            case Result.NotAManifest: return "Failed: the server's answer is not a manifest.";
            case Result.Cancelled: return "Cancelled; the next check resumes the download.";
            case Result.TimedOut: return "Failed: the deadline passed.";
            case 401:
            case 407: return "Failed: the server asks for authentication (" + result + ").";
            case Result.Unexpected: return "Failed: unexpected failure inside the module.";
            }
            if ((result & Result.LocalFileFlag) != 0)
                return "Failed: a local file cannot be written, or the package request failed " +
                    "(error " + (result & 0x7fffffff) + ").";
            return "Failed: the manifest cannot be fetched (error " + result + ").";
        }

        static void PrintLayout()
        {
            foreach (var type in new[] { typeof(Options), typeof(Offer) })
            {
                Console.WriteLine("{0} {1}", type.Name, Marshal.SizeOf(type));
                foreach (var field in type.GetFields())
                    Console.WriteLine("{0}.{1} {2}", type.Name, field.Name,
                        Marshal.OffsetOf(type, field.Name));
            }
        }
    }
}
