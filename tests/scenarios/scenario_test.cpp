// The whole check through the export, as a table of scenarios. The same table
// runs against the Linux library and against each DLL under Wine, so every
// target gives the same outcome for the same server and manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>

#include "scenario_runner.h"

using namespace marvostell::testing;

namespace {

Target g_target;

const std::string kZeros(32, '0');

struct Scenario {
    std::string name;
    std::string manifest;  // served at /update/update.ini (with status 200) unless empty
    std::map<std::string, Response> routes;
    Check check;
    Outcome expected;
    // What the DLLs give under Wine where Wine's WinINet differs from
    // Windows, which `expected` follows.
    std::optional<Outcome> wine = std::nullopt;
};

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = PatternByte(i);
    return data;
}

Response File(const std::string &body) {
    Response response;
    response.body = body;
    response.ranges = true;
    return response;
}

std::string Entry(const std::string &section, const std::string &package, uint64_t size,
                  const std::string &md5) {
    return "[General]\nupdate=" + section + "\n[" + section + "]\nversion=2\nPackage=" + package +
           "\nPackageSize=" + std::to_string(size) + "\nMd5=" + md5 + "\n";
}

std::string SizeOf(const std::string &name, size_t size) { return name + ":" + std::to_string(size); }

const std::string kManifestGet = "GET /update/update.ini";
std::string PackageGet(const std::string &path, size_t from) {
    return "GET " + path + " Range=bytes=" + std::to_string(from) + "-";
}

// Selection: every section names its own package, which the server answers
// with four bytes that never match the digest, so the outcome (6 and one
// request for the package) tells which section was selected.
Scenario Select(const std::string &name, const std::string &manifest, uint32_t version,
                const std::string &selected) {
    Scenario s{name, manifest, {}, {}, {}};
    s.check.version = version;
    for (const char *section : {"a", "b", "A"}) s.routes[std::string("/pkg/") + section] = File("data");
    if (selected.empty()) {
        s.expected.result = 0;
        s.expected.files = {SizeOf("update.ini", manifest.size())};
        s.expected.requests = {kManifestGet};
    } else {
        s.expected.result = 6;
        s.expected.files = {SizeOf(selected + ".err", 4), SizeOf("update.ini", manifest.size())};
        s.expected.progress = {100};
        s.expected.requests = {kManifestGet, PackageGet("/pkg/" + selected, 0)};
    }
    return s;
}

// A package section for the selection table.
std::string Pkg(const std::string &section, const std::string &keys) {
    return "[" + section + "]\n" + keys + "Package=/pkg/" + section +
           "\nPackageSize=4\nMd5=" + kZeros + "\n";
}

std::vector<Scenario> ManifestScenarios() {
    const std::string none = "[General]\nupdate=old\n[old]\nversion=1\n";
    std::vector<Scenario> list;
    auto add = [&](const std::string &name, const std::string &manifest, Check check,
                   Outcome expected) {
        list.push_back({name, manifest, {}, check, expected});
    };
    const Outcome upToDate{0, "<untouched>", {SizeOf("update.ini", none.size())}, {}, {kManifestGet}, {}};
    Check c;
    add("url_with_scheme", none, c, upToDate);
    c.url = "{server}/update/update.ini";
    add("url_without_scheme", none, c, upToDate);
    c.url = "https://{server}/update/update.ini";
    add("secure_scheme_is_plain_http", none, c, upToDate);
    c.url = " \thttp://{server}/update/update.ini  ";
    add("url_with_blanks", none, c, upToDate);
    c = {};
    c.dirSuffix = "{sep}{sep}";
    add("trailing_separators", none, c, upToDate);

    c = {};
    c.url = "http://{server}";
    add("url_without_slash", none, c, {4, "<untouched>", {}, {}, {}, {}});
    c.url = "";
    add("empty_url", none, c, {4, "<untouched>", {}, {}, {}, {}});

    // No local directory: refused before any request (the URL names a port
    // nobody listens on, so a request would show as 12029, and nothing could
    // be written to the root directory).
    for (const char *given : {"", "{sep}", "{sep}{sep}{sep}", "/"}) {
        c = {};
        c.url = "http://{closed}/update/update.ini";
        c.dirAsGiven = given;
        add(std::string("no_local_directory ") + given, none, c,
            {static_cast<int>(0x80000003u), "<untouched>", {}, {}, {}, {}});
    }
    c = {};
    c.url = "http://{server6}/update/update.ini";
    add("ipv6_literal_with_port", none, c, upToDate);
    {
        // Windows documents ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR for a
        // redirect from http to https unless the request asks to ignore it;
        // Wine follows it (and finds nobody at port 1).
        Scenario s{"redirect_to_https", "", {}, {}, {}};
        Response r;
        r.status = 302;
        r.reason = "Found";
        r.headers = {"Location: https://127.0.0.1:1/update/update.ini"};
        r.body = "moved";
        s.routes["/update/update.ini"] = r;
        s.expected = {12039, "<untouched>", {}, {}, {kManifestGet}, {}};
        s.wine = Outcome{12029, "<untouched>", {}, {}, {kManifestGet}, {}};
        list.push_back(s);
    }
    {
        // An answer whose header line is 8 MiB long: an answer WinINet cannot
        // use. Wine's WinINet takes it and reads the body.
        Scenario s{"header_line_of_8_mib", "", {}, {}, {}};
        Response r;
        r.body = none;
        r.headers = {"X-Padding: " + std::string(8 << 20, 'p')};
        s.routes["/update/update.ini"] = r;
        s.expected = {12152, "<untouched>", {}, {}, {kManifestGet}, {}};
        s.wine = upToDate;
        list.push_back(s);
    }
    c = {};
    c.missingDir = true;
    add("missing_directory", none, c,
        {static_cast<int>(0x80000003u), "<untouched>", {}, {}, {kManifestGet}, {}});
    c = {};
    c.url = "http://{closed}/update/update.ini";
    add("connection_refused", none, c, {12029, "<untouched>", {}, {}, {}, {}});
    c.url = "http://nonexistent.invalid/update/update.ini";
    add("name_not_resolved", none, c, {12007, "<untouched>", {}, {}, {}, {}});

    for (int status : {401, 407}) {
        Scenario s{"status_" + std::to_string(status), "", {}, {}, {}};
        Response r;
        r.status = status;
        r.reason = "Denied";
        r.body = "denied";
        s.routes["/update/update.ini"] = r;
        s.check.seed = {{"update.ini", "old copy"}};
        s.expected = {status, "<untouched>", {"update.ini:8"}, {}, {kManifestGet}, {}};
        list.push_back(s);
    }
    {
        Scenario s{"not_found_body_stored", "", {}, {}, {}};
        Response r;
        r.status = 404;
        r.reason = "Not Found";
        r.body = "<html>gone</html>";
        s.routes["/update/update.ini"] = r;
        s.expected = {0, "<untouched>", {SizeOf("update.ini", r.body.size())}, {}, {kManifestGet}, {}};
        list.push_back(s);
    }
    c = {};
    c.seed = {{"update.ini", std::string(6000, 'x')}};
    add("longer_old_manifest_cut", none, c, upToDate);
    {
        const std::string big = none + "; " + std::string(5000, 'c') + "\n";
        add("manifest_capped_at_4096", big, {}, {0, "<untouched>", {"update.ini:4096"}, {}, {kManifestGet}, {}});
    }
    {
        Scenario s{"chunked_manifest", "", {}, {}, {}};
        Response r;
        r.body = none;
        r.chunked = true;
        r.trickle_piece = 7;
        r.trickle_delay_ms = 5;
        s.routes["/update/update.ini"] = r;
        s.expected = upToDate;
        list.push_back(s);
    }
    return list;
}

std::vector<Scenario> SelectionScenarios() {
    const std::string g = "[General]\nupdate=";
    std::vector<Scenario> list = {
        Select("first_admitted_wins", g + "a,b\n" + Pkg("a", "version=5\n") + Pkg("b", "version=9\n"), 1, "a"),
        Select("equal_version_passed_over", g + "a b\n" + Pkg("a", "version=3\n") + Pkg("b", "version=4\n"), 3, "b"),
        Select("nothing_newer", g + "a\n" + Pkg("a", "version=3\n"), 3, ""),
        Select("language_passed_over", g + "a;b\n" + Pkg("a", "version=5\nlanguage=2052\n") + Pkg("b", "version=5\nlanguage=0\n"), 1, "b"),
        Select("hex_version", g + "a\n" + Pkg("a", "version=0x10\n"), 15, "a"),
        Select("hex_equals_decimal", g + "a\n" + Pkg("a", "version=0X10\n"), 16, ""),
        Select("octal_version", g + "a\n" + Pkg("a", "version=010\n"), 8, ""),
        Select("octal_version_newer", g + "a\n" + Pkg("a", "version=010\n"), 7, "a"),
        Select("version_above_32_bits_saturates", g + "a\n" + Pkg("a", "version=4294967296\n"), 0xFFFFFFFE, "a"),
        Select("minus_one_is_all_ones", g + "a\n" + Pkg("a", "version=-1\n"), 0xFFFFFFFE, "a"),
        Select("negation_modulo_32_bits", g + "a\n" + Pkg("a", "version=-4294967295\n"), 1, ""),
        Select("negation_modulo_32_bits_newer", g + "a\n" + Pkg("a", "version=-4294967295\n"), 0, "a"),
        Select("support_missing_section_selects", g + "a\n" + Pkg("a", "version=5\nSupport=nowhere\n"), 1, "a"),
        Select("unsupport_missing_section_excludes_nothing", g + "a\n" + Pkg("a", "version=5\nUnsupport=nowhere\n"), 1, "a"),
        Select("support_ver_minus_one_admits_all", g + "a\n" + Pkg("a", "version=5\nSupport=r\n") + "[r]\nver=-1\n", 4, "a"),
        Select("unsupport_ver_minus_one_only_all_ones", g + "a\n" + Pkg("a", "version=5\nUnsupport=r\n") + "[r]\nver=-1\n", 4, "a"),
        Select("unsupport_beats_support", g + "a,b\n" + Pkg("a", "version=5\nSupport=r\nUnsupport=r\n") + Pkg("b", "version=5\n") + "[r]\nlower=9\n", 4, "b"),
        Select("support_range_excludes", g + "a,b\n" + Pkg("a", "version=5\nSupport=r\n") + Pkg("b", "version=6\n") + "[r]\nver1=1-2\n", 4, "b"),
        Select("range_union_lower", g + "a,b\n" + Pkg("a", "version=9\nUnsupport=r\n") + Pkg("b", "version=9\n") + "[r]\nlower=2\ngreater=7\nver1=4\n", 2, "b"),
        Select("range_union_greater", g + "a,b\n" + Pkg("a", "version=9\nUnsupport=r\n") + Pkg("b", "version=9\n") + "[r]\nlower=2\ngreater=7\nver1=4\n", 7, "b"),
        Select("range_union_ver", g + "a,b\n" + Pkg("a", "version=9\nUnsupport=r\n") + Pkg("b", "version=9\n") + "[r]\nlower=2\ngreater=7\nVersion=4\n", 4, "b"),
        Select("range_union_none_matches", g + "a,b\n" + Pkg("a", "version=9\nUnsupport=r\n") + Pkg("b", "version=9\n") + "[r]\nlower=2\ngreater=7\nver1=4\n", 5, "a"),
        Select("dash_range_inclusive", g + "a,b\n" + Pkg("a", "version=99\nSupport=r\n") + Pkg("b", "version=99\n") + "[r]\nver=0x10-0x20\n", 0x20, "a"),
        Select("dash_range_outside", g + "a,b\n" + Pkg("a", "version=99\nSupport=r\n") + Pkg("b", "version=99\n") + "[r]\nver=0x10-0x20\n", 0x21, "b"),
        Select("blanks_around_dash_admit_first_only", g + "a,b\n" + Pkg("a", "version=99\nSupport=r\n") + Pkg("b", "version=99\n") + "[r]\nver=3 - 8\n", 5, "b"),
        Select("range_value_first_name_only", g + "a,b\n" + Pkg("a", "version=99\nSupport=r, other\n") + Pkg("b", "version=99\n") + "[r]\nver=5\n[other]\nver=6\n", 6, "b"),
        Select("list_with_empty_names", g + " ,;, a\n" + Pkg("a", "version=5\n"), 1, "a"),
        Select("empty_update", g + "\n" + Pkg("a", "version=5\n"), 1, ""),
        Select("no_general_section", Pkg("a", "version=5\n"), 1, ""),
        Select("section_without_version_skipped", g + "a,b\n" + Pkg("a", "") + Pkg("b", "version=5\n"), 1, "b"),
        Select("case_blind_names", "[general]\nUPDATE=a\n" + Pkg("A", "VERSION=5\n"), 1, "A"),
    };
    return list;
}

std::vector<Scenario> PackageScenarios() {
    std::vector<Scenario> list;
    const std::string pkg = Pattern(20000);
    const std::string md5 = Md5Hex(pkg);
    const std::string manifest = Entry("p", "/pkg/a.bin", pkg.size(), md5);
    const std::string ini = SizeOf("update.ini", manifest.size());
    auto served = [&](const std::string &name, Check check, Outcome expected,
                      Response package = Response{}) {
        Scenario s{name, manifest, {}, check, expected};
        if (package.body.empty() && package.pattern_size == 0) package = File(pkg);
        s.routes["/pkg/a.bin"] = package;
        list.push_back(s);
    };
    const std::vector<uint64_t> whole = {40, 81, 100};  // reads of 8192, 8192, 3616 bytes

    served("fresh_download", {}, {1, "a.bin", {"a.bin:20000", ini}, whole, {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}});
    Check c;
    c.url = "http://{server6}/update/update.ini";
    served("ipv6_download", c, {1, "a.bin", {"a.bin:20000", ini}, whole, {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}});
    // A package another opener holds (another check reading it for its
    // digest, say) is neither a mismatch nor moved aside, complete or stale.
    c = {};
    c.hold = "a.bin";
    c.seed = {{"a.bin", pkg}};
    served("complete_package_held", c,
           {static_cast<int>(0x80000020u), "<untouched>", {"a.bin:20000", ini}, {}, {kManifestGet}, {}});
    c.seed = {{"a.bin", std::string(20000, 's')}};
    served("stale_package_held", c,
           {static_cast<int>(0x80000020u), "<untouched>", {"a.bin:20000", ini}, {}, {kManifestGet}, {}});
    {
        Response moved;
        moved.status = 302;
        moved.reason = "Found";
        moved.headers = {"Location: https://127.0.0.1:1/pkg/a.bin"};
        moved.body = "moved";
        const std::vector<std::string> twice = {kManifestGet, PackageGet("/pkg/a.bin", 0),
                                                PackageGet("/pkg/a.bin", 0)};
        served("package_redirect_to_https", {},
               {static_cast<int>(0x80000000u | 12039), "<untouched>", {ini}, {}, twice, {}}, moved);
        list.back().wine = Outcome{static_cast<int>(0x80000000u | 12029), "<untouched>", {ini}, {}, twice, {}};
    }
    c = {};
    c.window = false;
    served("null_window_posts_nothing", c, {1, "a.bin", {"a.bin:20000", ini}, {}, {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}});
    c = {};
    c.seed = {{"a.bin", pkg}};
    served("complete_package_present", c, {1, "a.bin", {"a.bin:20000", ini}, {}, {kManifestGet}, {}});
    c.seed = {{"a.bin", pkg.substr(0, 10000)}};
    served("partial_file_resumed", c, {1, "a.bin", {"a.bin:20000", ini}, {90, 100}, {kManifestGet, PackageGet("/pkg/a.bin", 10000)}, {}});
    c.seed = {{"a.bin", std::string(100, 'f')}};
    served("foreign_shorter_file_replaced", c,
           {1, "a.bin", {"a.bin:20000", "a.bin.err:20000", ini}, {41, 82, 100, 40, 81, 100},
            {kManifestGet, PackageGet("/pkg/a.bin", 100), PackageGet("/pkg/a.bin", 0)}, {}});
    c.seed = {{"a.bin", std::string(30000, 'f')}};
    served("foreign_larger_file_moved_without_request", c,
           {1, "a.bin", {"a.bin:20000", "a.bin.err:30000", ini}, whole, {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}});
    {
        Scenario s{"foreign_file_twice_rejected", Entry("p", "/pkg/a.bin", pkg.size(), kZeros), {}, {}, {}};
        s.routes["/pkg/a.bin"] = File(pkg);
        s.check.seed = {{"a.bin", std::string(20000, 'f')}};
        s.expected = {6, "a.bin", {"a.bin.err:20000", SizeOf("update.ini", s.manifest.size())}, whole,
                      {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}};
        list.push_back(s);
    }
    {
        Scenario s{"fresh_mismatch_no_second_request", Entry("p", "/pkg/a.bin", pkg.size(), kZeros), {}, {}, {}};
        s.routes["/pkg/a.bin"] = File(pkg);
        s.expected = {6, "<untouched>", {"a.bin.err:20000", SizeOf("update.ini", s.manifest.size())}, whole,
                      {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}};
        list.push_back(s);
    }
    Response cut = File(pkg);
    cut.drop_after = 12000;
    served("transfer_cut_short", {}, {6, "<untouched>", {"a.bin.err:12000", ini}, {40, 60}, {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}}, cut);
    Response page;
    page.status = 404;
    page.reason = "Not Found";
    page.body = "no such package";
    served("error_page_appended", {}, {6, "<untouched>", {"a.bin.err:15", ini}, {0}, {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}}, page);
    Response ignored = File(pkg);
    ignored.ranges = false;
    c = {};
    c.seed = {{"a.bin", pkg.substr(0, 10000)}};
    served("range_ignored_whole_body_appended", c,
           {1, "a.bin", {"a.bin:20000", "a.bin.err:26384", ini}, {90, 131, 40, 81, 100},
            {kManifestGet, PackageGet("/pkg/a.bin", 10000), PackageGet("/pkg/a.bin", 0)}, {}}, ignored);
    c = {};
    c.hold = "a.bin";
    served("package_held_by_another_opener", c,
           {static_cast<int>(0x80000020u), "<untouched>", {"a.bin:0", ini}, {},
            {kManifestGet, PackageGet("/pkg/a.bin", 0), PackageGet("/pkg/a.bin", 0)}, {}});
    {
        // A full disk, as a file-size limit: the bytes written are kept, and the
        // second attempt resumes after them.
        const std::string body = Pattern(100000);
        Scenario s{"disk_full", Entry("p", "/pkg/a.bin", body.size(), Md5Hex(body)), {}, {}, {}};
        s.routes["/pkg/a.bin"] = File(body);
        s.check.fileSizeLimit = 20480;
        s.expected = {static_cast<int>(0x80000000u | 112), "<untouched>",
                      {"a.bin:20480", SizeOf("update.ini", s.manifest.size())}, {8, 16},
                      {kManifestGet, PackageGet("/pkg/a.bin", 0), PackageGet("/pkg/a.bin", 20480)}, {}};
        list.push_back(s);
    }
    Response chunked = File(pkg);
    chunked.chunked = true;
    chunked.ranges = false;
    chunked.trickle_piece = 3000;
    chunked.trickle_delay_ms = 2;
    served("chunked_trickled_package", {}, {1, "a.bin", {"a.bin:20000", ini}, whole, {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}}, chunked);

    // More bytes than declared: reading stops at the first read that reaches the size.
    {
        const std::string body = Pattern(30000);
        Scenario s{"more_bytes_than_declared", Entry("p", "/pkg/a.bin", 10000, Md5Hex(body.substr(0, 10000))), {}, {}, {}};
        Response r;
        r.body = body;
        s.routes["/pkg/a.bin"] = r;
        s.expected = {6, "<untouched>", {"a.bin.err:16384", SizeOf("update.ini", s.manifest.size())}, {81, 163},
                      {kManifestGet, PackageGet("/pkg/a.bin", 0)}, {}};
        list.push_back(s);
    }

    // The package entry's checks.
    auto entry = [&](const std::string &name, const std::string &size, const std::string &digest,
                     const std::string &package, int result) {
        const std::string m = "[General]\nupdate=p\n[p]\nversion=2\nPackage=" + package +
                              "\nPackageSize=" + size + "\nMd5=" + digest + "\n";
        Scenario s{name, m, {}, {}, {}};
        s.routes["/pkg/a.bin"] = File(pkg);
        s.routes["/a.bin"] = File(pkg);
        s.expected.result = result;
        s.expected.files = {SizeOf("update.ini", m.size())};
        s.expected.requests = {kManifestGet};
        list.push_back(s);
        return &list.back();
    };
    entry("size_zero", "0", md5, "/pkg/a.bin", 5);
    entry("size_above_limit", "0x8000001", md5, "/pkg/a.bin", 5);
    entry("size_minus_one", "-1", md5, "/pkg/a.bin", 5);
    entry("size_not_a_number", "big", md5, "/pkg/a.bin", 5);
    entry("md5_31_chars", "20000", md5.substr(0, 31), "/pkg/a.bin", 5);
    entry("md5_missing", "20000", "", "/pkg/a.bin", 5);
    for (const char *unsafe : {"/pkg/..\\..\\x.exe", "/pkg/", "/pkg/..", "/pkg/.", "/pkg/c:x", "/pkg/a?b", "/pkg/a*b", "/pkg/a|b", "/pkg/a<b>",
                               "/pkg/a.bin.", "/pkg/a\tb", "/pkg/nul", "/pkg/CON.exe", "/pkg/com1.bin", "/pkg/lpt9",
                               "/pkg/NUL .txt", "/pkg/conout$", "/pkg/update.ini", "/pkg/UpDate.INI"})
        entry(std::string("unsafe_name ") + unsafe, "20000", md5, unsafe, 5);
    {
        // Accepted: the transfer ends short of the declared size, and the
        // digest alone decides.
        Scenario *s = entry("size_at_limit_accepted", "0x8000000", md5, "/pkg/a.bin", 1);
        s->expected.path = "a.bin";
        s->expected.files.insert(s->expected.files.begin(), "a.bin:20000");
        s->expected.requests.push_back(PackageGet("/pkg/a.bin", 0));
        s->expected.progress = {0};
    }
    {
        Scenario *s = entry("size_followed_by_word", "20000 bytes", md5 + "00112233", "/pkg/a.bin", 1);
        s->expected.path = "a.bin";
        s->expected.files.insert(s->expected.files.begin(), "a.bin:20000");
        s->expected.requests.push_back(PackageGet("/pkg/a.bin", 0));
        s->expected.progress = whole;
    }
    {
        std::string lower = md5;
        for (char &ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (lower == md5) lower[0] = 'x';  // the digest had no letter
        Scenario *s = entry("lower_case_md5_never_matches", "20000", lower, "/pkg/a.bin", 6);
        s->expected.files.insert(s->expected.files.begin(), "a.bin.err:20000");
        s->expected.requests.push_back(PackageGet("/pkg/a.bin", 0));
        s->expected.progress = whole;
    }
    {
        Scenario *s = entry("package_without_slash", "20000", md5, "a.bin", 1);
        s->expected.path = "a.bin";
        s->expected.files.insert(s->expected.files.begin(), "a.bin:20000");
        // An object name without a leading "/" is requested from the root.
        s->expected.requests.push_back("GET /a.bin Range=bytes=0-");
        s->expected.progress = whole;
    }
    {
        // The largest package: percentages rise to 100 without wrapping.
        const size_t size = 0x8000000;
        Response big;
        big.pattern_size = size;
        big.ranges = true;
        Scenario s{"largest_package", Entry("p", "/pkg/big.bin", size, Md5Hex(Pattern(size))), {}, {}, {}};
        s.routes["/pkg/big.bin"] = big;
        std::vector<uint64_t> all;
        for (uint64_t p = 0; p <= 100; ++p) all.push_back(p);
        s.expected = {1, "big.bin", {"big.bin:134217728", SizeOf("update.ini", s.manifest.size())}, all,
                      {kManifestGet, PackageGet("/pkg/big.bin", 0)}, {}};
        list.push_back(s);
    }
    return list;
}

std::vector<Scenario> AllScenarios() {
    std::vector<Scenario> all = ManifestScenarios();
    for (auto &s : SelectionScenarios()) all.push_back(s);
    for (auto &s : PackageScenarios()) all.push_back(s);
    return all;
}

void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.name; }

class ScenarioTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(ScenarioTest, GivesTheExpectedOutcome) {
    const Scenario &s = GetParam();
    TestServer server;
    if (!s.manifest.empty()) server.file("/update/update.ini", s.manifest);
    for (const auto &route : s.routes) server.route(route.first, route.second);

    if (s.check.url.find("{server6}") != std::string::npos && !server.ipv6())
        GTEST_SKIP() << "no IPv6 loopback here";
    const bool wine = g_target.name != "native";
    const Outcome &expected = wine && s.wine ? *s.wine : s.expected;

    const Outcome got = RunCheck(g_target, server, s.check);
    if (s.check.fileSizeLimit && wine) {
        // Wine reports a write past the limit as ERROR_GEN_FAILURE (31) where
        // Windows reports ERROR_DISK_FULL; both are local-file failures.
        EXPECT_NE(static_cast<uint32_t>(got.result) & 0x80000000u, 0u) << got.result;
    } else {
        EXPECT_EQ(got.result, expected.result);
    }
    EXPECT_EQ(got.path, expected.path);
    std::vector<std::string> files = expected.files;
    std::sort(files.begin(), files.end());
    EXPECT_EQ(got.files, files);
    EXPECT_EQ(got.progress, expected.progress);
    EXPECT_EQ(got.requests, expected.requests);
}

INSTANTIATE_TEST_SUITE_P(All, ScenarioTest, ::testing::ValuesIn(AllScenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) {
                             std::string name;
                             for (char ch : info.param.name)
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name + "_" + std::to_string(info.index);
                         });

// What goes on the wire is the same from every target.
TEST(Wire, RequestsHaveTheExpectedForm) {
    const std::string pkg = Pattern(100);
    TestServer server;
    server.file("/update/update.ini", Entry("p", "/pkg/a.bin", pkg.size(), Md5Hex(pkg)));
    server.file("/pkg/a.bin", pkg);
    Check check;
    check.seed = {{"a.bin", pkg.substr(0, 5)}};
    const Outcome got = RunCheck(g_target, server, check);
    ASSERT_EQ(got.result, 1);
    const std::string agent = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n";
    const std::vector<std::string> expected = {
        "GET /update/update.ini HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\n" + agent +
            "Content-Type: application/x-www-form-urlencoded\r\n\r\n",
        "GET /pkg/a.bin HTTP/1.1\r\nAccept: */*\r\nRange: bytes=5-\r\nHost: 127.0.0.1:PORT\r\n" +
            agent + "\r\n",
    };
    EXPECT_EQ(got.rawRequests, expected);
}

// The host's last act is unloading the module while WinINet may still have
// threads of its own: loading, checking and unloading again and again in one
// process must give a complete, identical report every time.
TEST(Host, LoadCheckUnloadRepeatedInOneProcess) {
    const std::string pkg = Pattern(300000);
    TestServer server;
    server.file("/update/update.ini", Entry("p", "/pkg/a.bin", pkg.size(), Md5Hex(pkg)));
    server.route("/pkg/a.bin", File(pkg));
    Check check;
    check.rounds = 12;
    const Outcome got = RunCheck(g_target, server, check);
    EXPECT_EQ(got.result, 1);
    EXPECT_EQ(got.path, "a.bin");
    // The first round downloads; every later one finds the package complete.
    std::vector<std::string> requests(check.rounds, kManifestGet);
    requests.insert(requests.begin() + 1, PackageGet("/pkg/a.bin", 0));
    EXPECT_EQ(got.requests, requests);
}

}  // namespace

const Target &marvostell::testing::CurrentTarget() { return g_target; }

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--target=", 0) == 0) g_target.name = arg.substr(9);
        else if (arg.rfind("--host=", 0) == 0) g_target.host = arg.substr(7);
        else if (arg.rfind("--dll=", 0) == 0) g_target.dll = arg.substr(6);
    }
    return RUN_ALL_TESTS();
}
