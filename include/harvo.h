// Harvo: copies web sites to the local disk for off-line reading.
//
// Rules a host must know:
//  * Ownership. The host allocates and owns every record (HvrOpenInfo, HvrJobInfo, HvrLinkInfo)
//    and every link array a reader export gave it (free it with HvrDelLinkArray). A job record
//    stays alive and in place from HvrStart (HvrMultiStart) until HvrEnd (HvrMultiEnd) returned:
//    the job's worker thread writes its result fields meanwhile.
//  * Results. Job-control and link-array exports return 0 on success and 1 on failure and write
//    a reason, where there is one, into the record's Error (codes below). Missing handle or
//    record: 1 without a code. Bookmark readers always return 0. Progress queries return values.
//  * Threads. Call the exports of one handle from one thread at a time. Each job runs on its own
//    worker thread, at idle priority unless HVR_OPT_NORMAL_PRIORITY is set. A job's result
//    fields (Error, Updated, LastModified, FailedFiles) are reliable once the job has ended.
//    One exception to the one-thread rule: HvrStop and HvrMultiStop may be called from a second
//    thread (a signal watcher, say) while the first polls progress, as long as neither thread
//    starts or ends jobs meanwhile.
//  * Stop. HvrStop and HvrMultiStop set a stop request on the handle that is never withdrawn:
//    jobs started on that handle afterwards request their start page only. Open a new handle to
//    crawl again.
//  * No exception leaves an export.
//
// Behaviour worth knowing (see also the README's "How Harvo behaves"):
//  * A job's run state is created, running or finished; once finished it stays finished. A job
//    whose start failed is finished at once, so that no wait of the handle hangs on it.
//  * A multi-site run starts only the jobs its own HvrMultiStart created, each thread at most
//    once. HvrMultiStart while an earlier run of the handle still goes is accepted: the new run
//    waits until the earlier run has ended, so a handle's runs download one site at a time.
//    Single jobs (HvrStart) run beside a multi-site run and are neither waited for nor restarted.
//  * URL paths in FailedFiles and the log have no leading "/": a file at the server's root is
//    "index.html", not "/index.html" (the log's received-file lines show it as "/index.html").
//  * Text-code conversion: an EUC-JP three-byte unit (0x8F and two bytes) becomes one "?", as
//    Shift_JIS has no place for it; in the two-byte mode of ISO-2022-JP the bytes CR, LF, TAB,
//    space and 0x7F are kept as they are rather than paired.
//  * HVR_OPT_RAW_HTML keeps a page's links as received and saves its text byte for byte as the
//    text-code conversion produced it, except that a converted page's charset label (EUC-JP,
//    ISO-2022-JP) becomes Shift_JIS, as in rewritten pages. With HVR_OPT_KEEP_CODE as well, a
//    page is saved as received.
//  * Absolute same-server links are followed below the start page's folder, also when the start
//    URL names a file in it; "http://host:port" without a path names the server's root.
//  * A folder's index probes (.htaccess, index.html, index.htm) follow redirects only on the
//    site's server; a probe redirected elsewhere counts as no index found.
//  * URL paths with a control character (0x00-0x1F, 0x7F) are refused and reported failed, like
//    paths with ".." components. The log writes control characters as \xNN (a leading tab is
//    the line's own), one event per line. A DirectoryIndex line names its first name, up to the
//    first blank or line end. An earlier copy is looked up by its exact name.
//  * No symbolic link below the site folder (save root + server name) is followed while folders
//    and files are made: a file whose folder in the copy is a link fails with that reason. The
//    save root and the server's folder may themselves be links.
//  * A stop never replaces an earlier file with the part that arrived; the stopped file then does
//    not count as saved. A part kept where no file was is stamped with the server's time plus
//    half a second, which makes the next update run receive it again.
//  * Files are written as ".NAME.hvtmp-XXXXXX" beside their place and renamed when complete. A
//    host that must end the process at once calls std::quick_exit: the temporary files being
//    written are then removed. A job (not a check-only one) removes the temporary files older
//    than a minute that it finds in its site folder.
//  * URL paths that differ only in letter case are one file to the walk: the first spelling is
//    copied, each other one is logged as "\tSameAs(path):copied path" and not received.
//  * Bookmark readers: a Favorites shortcut file named only ".url" counts as hidden and is
//    skipped.
//
// The extensions below in more words:
//  * HVR_OPT_WALK_UNCHANGED (with HVR_OPT_UPDATE_ONLY or HVR_OPT_UPDATE_NONHTML). Without it an
//    update receives only what changed, and a page that is not received has no links: nothing
//    below an unchanged page is looked at, so an unchanged start page ends the job. With it the
//    links of an unchanged HTML page are read from its earlier copy (the file the comparison
//    found, read in blocks; a copy that cannot be read is replaced by the page itself) and
//    walked as the page's would be; the log shows such a page as "Unchanged(PATH), DEPTH". The
//    copy's rewritten links lead from the page's folder to the same server paths, folder links
//    straight to their index files. The comparison then takes like with like: a page saved with
//    its links rewritten or its text converted (every page unless both HVR_OPT_RAW_HTML and
//    HVR_OPT_KEEP_CODE are set) has a size of its own, so it counts as changed when its time
//    differs from the server's Last-Modified, or when the copy is empty and the server's length
//    is not; every other file also when its size differs from the server's Content-Length.
//    (With HVR_OPT_UPDATE_NONHTML every page is received anyway.)
//  * HVR_OPT_INDEX_ONCE: the index file of each server folder (.htaccess, then the probes) is
//    asked for once per job and remembered for every later link to the folder and for the walk
//    into it. A look-up that failed in transport is asked again at the next link. Without it
//    every directory link and every walk into a folder asks again, up to three requests each.
//  * HVR_OPT_NORMAL_PRIORITY: the job's worker thread (and a multi-site run's thread, when its
//    jobs have the bit) runs at normal priority instead of idle priority.
//  * HVR_OPT_ROBOTS: the job first requests the server's /robots.txt (from that server only, at
//    most 512 KiB of it; any answer but 200 allows everything) and takes the group of the
//    session's agent (its name up to the first "/"), else the "*" group: the longest matching
//    Allow or Disallow pattern decides ("*" any text, "$" the end; an Allow wins a tie). A link
//    it disallows is not requested and not counted as failed; the log shows it as
//    "\tRobots(path)". The start page, named by the host, is always requested; index probes it
//    disallows are not sent, and a folder whose index file it disallows fails with that reason.
#ifndef HARVO_H
#define HARVO_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#if defined(HARVO_BUILDING_LIBRARY)
#define HVR_API extern "C" __attribute__((visibility("default")))
#else
#define HVR_API extern "C"
#endif

#define HARVO_VERSION "1.3.0"

class KtWdlManager;  // the object behind a handle
class KtWdlLog;      // a job's log file

// Option bits of HvrJobInfo::Options.
inline constexpr int32_t HVR_OPT_UPDATE_ONLY = 0x1;      // receive only files that changed
inline constexpr int32_t HVR_OPT_UPDATE_NONHTML = 0x2;   // HTML always; other files if changed
inline constexpr int32_t HVR_OPT_RAW_HTML = 0x4;         // links not rewritten (see above)
inline constexpr int32_t HVR_OPT_KEEP_CODE = 0x8;        // no EUC-JP / ISO-2022-JP conversion
inline constexpr int32_t HVR_OPT_CGI = 0x10;             // of the wanted types only .cgi
inline constexpr int32_t HVR_OPT_JAVA = 0x20;            // of the wanted types only .java
inline constexpr int32_t HVR_OPT_CHECK_ONLY = 0x100000;  // request the start page only

// Extensions: off unless a host asks for them; a host that sets none of these bits gets the
// walk described above. The harvo command turns most of them on (see the README's table).
// clang-format off
inline constexpr int32_t HVR_OPT_WALK_UNCHANGED = 0x200000;   // update: walk an unchanged page's links from the earlier copy
inline constexpr int32_t HVR_OPT_HTTPS = 0x400000;            // https:// start URLs and links over TLS
inline constexpr int32_t HVR_OPT_INSECURE = 0x800000;         // TLS without certificate checks
inline constexpr int32_t HVR_OPT_ROOT_LINKS = 0x1000000;      // follow and rewrite "/path" links
inline constexpr int32_t HVR_OPT_MORE_LINKS = 0x2000000;      // srcset, poster, meta refresh, CSS url() and @import
inline constexpr int32_t HVR_OPT_QUERY_PAGES = 0x4000000;     // "page?x=1" saved as a file of its own
inline constexpr int32_t HVR_OPT_REMOTE_LINKS = 0x8000000;    // links to what is not copied keep their absolute URL
inline constexpr int32_t HVR_OPT_COMPRESSION = 0x10000000;    // ask for gzip/deflate/brotli bodies
inline constexpr int32_t HVR_OPT_ROBOTS = 0x20000000;         // obey the site's robots.txt
inline constexpr int32_t HVR_OPT_INDEX_ONCE = 0x40000000;     // one index look-up per server folder
inline constexpr int32_t HVR_OPT_NORMAL_PRIORITY = static_cast<int32_t>(0x80000000u);  // worker at normal priority
// clang-format on
//
// HVR_OPT_HTTPS: an https:// start URL is fetched over TLS from its host and port (443 unless
//   named), every certificate verified against the system's store or the session's CaFile;
//   the site's own absolute links are then its https:// links (http:// links are another
//   site's, as https:// links are for an http site). Redirects between http and https are
//   followed as before. A refused certificate fails the file with its reason in words in
//   ErrorText and FailedReasons ("SSL certificate problem: certificate has expired"). Without
//   the bit an https:// start URL is asked over plain HTTP on its port, as the walk always did.
// HVR_OPT_INSECURE: the certificates of https requests (an https site, a redirect to https)
//   are not checked at all (issuer, dates, host name): for a host that knows what it is
//   talking to.

// The link extensions in detail:
//  * HVR_OPT_ROOT_LINKS: "/path" is taken as the absolute link to the page's server with that
//    path, "//host/path" as the absolute link to that server; each is then followed when an
//    absolute link would be (same server, below the start page's folder) and saved as a path
//    relative to the page. One that is not followed keeps its text. (A page started below the
//    server's root therefore does not follow "/css/site.css" when "/css/" lies outside its start
//    folder; relative links to it are followed, as ever.)
//  * HVR_OPT_MORE_LINKS: besides the link attributes, a page's links are found in "srcset" (every
//    candidate), "poster", the URL of <meta http-equiv="refresh" content="...; url=..."> (when
//    http-equiv comes first), "style" attributes, <style> blocks and ".css" files: url() in every
//    quoting form and @import. Each is filtered, followed and rewritten like an attribute's link,
//    and keeps its query and fragment in the copy; data: and other schemes are left alone. These
//    values keep their blanks in the copy, a value in single quotes is the link it encloses, and a
//    style sheet is saved as received but for its links. Nothing in comments or CSS strings
//    counts. A link longer than 64 KiB (long data: URLs) passes unchanged.
//  * HVR_OPT_QUERY_PAGES: a link keeps its query ("&amp;" read as "&"), and each query is a file
//    of its own: "dir/list.php?page=2" is requested as such and saved in dir/ as
//    "list.php@page=2.html". The query's letters, digits and "-_.=,+~&" stay; any other byte
//    becomes "_" and no ".." is left, and then, as for a name cut to its 160 bytes, "~" and a hash
//    of the query follow. The answer is scanned as a page when the server says text/html (or,
//    without a Content-Type, when its path names a page: no extension, .html, .htm, .php, .asp,
//    .aspx, .jsp, .cgi, .pl, ...); its name then ends in ".html". Links are rewritten before
//    their target's answer is known, from its path alone, so a path that names a page always
//    gets ".html" (a download.php?f=a.zip keeps its bytes under that name, unscanned); other
//    files end in their own extension ("style.css@v=3.css"), and one that the server calls
//    text/html gets ".html" as well, while links written before lead to the name without it. A
//    query with a control byte is neither followed nor requested; "dir/?x" is saved as
//    "index@x.html".
//  * HVR_OPT_REMOTE_LINKS: when a page is saved, each link whose file the job will not copy is
//    written as the file's absolute URL ("http://host:port/path"), so that the copy still leads
//    there when online: another server, outside the start folder, an excluded or unwanted type,
//    beyond the link-depth or the folder-depth limit, above the server's root, a file that has
//    already failed, or one that the server's rules exclude. A link to a file that is going to be
//    copied leads to it locally. A file that fails only after the page was saved keeps its local
//    link, which then leads nowhere; its path is in FailedFiles.

// Error codes written into the Error field of a record.
// clang-format off
inline constexpr int32_t HVR_ERR_NONE = 0;
inline constexpr int32_t HVR_ERR_BAD_INDEX = static_cast<int32_t>(0x80000000u);      // no such slot
inline constexpr int32_t HVR_ERR_THREAD = static_cast<int32_t>(0x80000003u);         // thread start
inline constexpr int32_t HVR_ERR_SESSION = static_cast<int32_t>(0x80000100u);        // session/connection
inline constexpr int32_t HVR_ERR_SETTING = static_cast<int32_t>(0x80000300u);        // unusable setting
inline constexpr int32_t HVR_ERR_FILE = static_cast<int32_t>(0x80010000u);           // file failed
inline constexpr int32_t HVR_ERR_NO_LENGTH = static_cast<int32_t>(0x80030000u);      // no Content-Length
inline constexpr int32_t HVR_ERR_NO_MODIFIED = static_cast<int32_t>(0x80040000u);    // no Last-Modified
inline constexpr int32_t HVR_ERR_HTTP_400 = static_cast<int32_t>(0x80050000u);
inline constexpr int32_t HVR_ERR_HTTP_404 = static_cast<int32_t>(0x80060000u);
inline constexpr int32_t HVR_ERR_HTTP_405 = static_cast<int32_t>(0x80070000u);
inline constexpr int32_t HVR_ERR_HTTP_500 = static_cast<int32_t>(0x80080000u);
inline constexpr int32_t HVR_ERR_HTTP_503 = static_cast<int32_t>(0x80090000u);
inline constexpr int32_t HVR_ERR_HTTP_OTHER = static_cast<int32_t>(0x800A0000u);     // other status
                                                                                     // or transport
// clang-format on

// Text queries write at most this many bytes, the terminating zero included.
inline constexpr int HVR_TEXT_BUFFER_SIZE = 2084;

// Settings of the internet session of a handle.
struct HvrOpenInfo {
  std::string Agent;           // User-Agent value sent with every request
  std::string Proxy;           // empty: direct; otherwise every request goes to this proxy
  int32_t ConnectTimeout = 0;  // milliseconds; 0 or less: the HTTP layer's default
  int32_t ConnectRetries = 0;  // further connect attempts after a failed one
  int32_t Error = 0;           // out: 0, or HVR_ERR_SESSION

  // Fields appended in 1.2 (settings, read by HvrOpen).
  std::string CaFile;      // PEM file of CA certificates that TLS requests trust besides the
                           // system's store; empty: the store only. A file that cannot be read
                           // or holds no certificate fails HvrOpen (HVR_ERR_SESSION).
  std::string CookieFile;  // Netscape-format cookie file: its cookies go with the requests
                           // they match; the cookies that sites set are added and the file
                           // written back when each job ends and at HvrClose. A missing file
                           // is made then; one that cannot be read fails HvrOpen.
  std::vector<std::string> Headers;  // extra request headers, "Name: value", sent with every
                                     // request in place of the library's header of that name
                                     // (User-Agent, Accept); a line that is no header (no
                                     // name, control characters) fails HvrOpen.
};

// One download job: settings (in) and results (out, written by the job's worker thread).
struct HvrJobInfo {
  std::string SiteName;                   // display name; not interpreted
  std::string Url;                        // start URL (its first 255 characters are parsed)
  std::string SaveFolder;                 // root of the copy; the site lies in SaveFolder/server/
  std::string CompareFolder;              // root of an earlier copy, or empty
  int32_t MaxDirDepth = -1;               // pages with this many "/" in their path or more are
                                          // not requested; -1: no limit
  int32_t MaxLinkDepth = -1;              // HTML pages found at this link depth or deeper are
                                          // not followed; -1: no limit
  int32_t AllTypes = 0;                   // non-zero: every extension is wanted
  std::vector<std::string> Types;         // wanted extensions (".gif"); .html/.htm always
  std::vector<std::string> ExcludeTypes;  // never downloaded; wins over Types and AllTypes
  int32_t Options = 0;                    // HVR_OPT_* bits
  int32_t BufferSize = 16384;             // bytes per body read
  int32_t Interval = 0;                   // milliseconds of pause after each received file
  int32_t Updated = 0;                    // out: 1 when an earlier copy differed in time
  int32_t LastModified = 0;               // out: Last-Modified of the latest 200 response
  int32_t Error = 0;                      // out: the latest error code of the job
  std::vector<std::string> FailedFiles;   // out: URL paths that failed with HVR_ERR_FILE
  KtWdlLog* Log = nullptr;                // library-owned; pass the record to HvrLogStart

  // Fields appended in 1.1 (results, written like the ones above).
  std::string ErrorText;                   // out: the reason behind Error in words, where one
                                           // is known ("Connection refused", "HTTP status
                                           // 404", "No space left on device"); else empty
  std::vector<std::string> FailedReasons;  // out: for each entry of FailedFiles, in the same
                                           // order, its reason in words (may be empty)

  // Fields appended in 1.2: limits of the walk (0 or less: none) for sites that never end. A
  // limit that is reached ends the walk like HvrStop ends it (the file under way is kept as far
  // as it came), but for this job only.
  int32_t MaxFiles = 0;      // in: end once this many files were saved
  int32_t MaxKBytes = 0;     // in: end once this many KiB (1024 bytes) of bodies were received
  int32_t LimitReached = 0;  // out: HVR_LIMIT_FILES or HVR_LIMIT_SIZE when a limit ended the walk

  // Field appended in 1.3: keep-alive connections to the site's server used at once (0 or 1:
  // one, the walk as it always was; at most HVR_MAX_CONNECTIONS, more count as that many). The
  // walk still scans the pages one after the other over its own connection, in the same order
  // and with the same decisions; the files it does not scan for links (known from their names)
  // are fetched over the other connections while it goes on. A limit (MaxFiles, MaxKBytes) makes
  // the job use one connection, so that it ends after exactly the same files.
  int32_t Connections = 0;
};

// The most connections a job uses at once.
inline constexpr int32_t HVR_MAX_CONNECTIONS = 16;

// Values of HvrJobInfo::LimitReached.
inline constexpr int32_t HVR_LIMIT_NONE = 0;
inline constexpr int32_t HVR_LIMIT_FILES = 1;
inline constexpr int32_t HVR_LIMIT_SIZE = 2;

// One bookmark entry.
struct HvrLinkInfo {
  int32_t Selected = 0;  // non-zero: HvrMultiStart starts a job for this entry
  std::string Folder;    // the bookmark's folder path label, for display
  HvrJobInfo Job;        // SiteName (title) and Url come from the bookmark store
};

// A growable array of HvrLinkInfo records that owns its records. Made by the reader exports,
// freed with HvrDelLinkArray.
class HvrLinkArray {
 public:
  HvrLinkArray() = default;
  HvrLinkArray(const HvrLinkArray&) = delete;
  HvrLinkArray& operator=(const HvrLinkArray&) = delete;

  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  HvrLinkInfo* at(size_t i) const { return items_.at(i).get(); }
  HvrLinkInfo* operator[](size_t i) const { return items_[i].get(); }

  // Takes ownership of link, appended at the end or inserted before position index.
  void Add(HvrLinkInfo* link) { items_.emplace_back(link); }
  void InsertAt(size_t index, HvrLinkInfo* link) {
    items_.emplace(items_.begin() + static_cast<std::ptrdiff_t>(index), link);
  }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<HvrLinkInfo>> items_;
};

// Handle lifecycle. HvrClose is also called after a failed HvrOpen; reserved must be non-null.
// Jobs that were not ended are stopped, waited for and ended with the handle: their records'
// logs are deleted and their other result fields stay. So every record of a job that was not
// ended must still be alive when HvrClose is called; a host that destroyed such a record
// without HvrEnd broke the record rule above, and HvrClose would then touch freed memory.
HVR_API int HvrOpen(KtWdlManager** handle, HvrOpenInfo* info);
HVR_API int HvrClose(KtWdlManager** handle, void* reserved);

// Single jobs. HvrStart writes the job's slot into *index (also when the job could not start).
// HvrEnd waits until no job of the handle runs, then frees the job(s) of index (negative: all).
// HvrStop asks every job of the handle to stop and waits until none runs (job, index unused).
HVR_API int HvrStart(KtWdlManager** handle, HvrJobInfo* job, int* index);
HVR_API int HvrEnd(KtWdlManager** handle, HvrJobInfo* job, int index);
HVR_API int HvrStop(KtWdlManager** handle, HvrJobInfo* job, int index);

// Multi-site runs over the selected entries of a link array, one site after the other, with the
// settings (SaveFolder to Interval, MaxFiles and MaxKBytes, each for each site) of tmpl. A run
// started while an earlier one goes waits for it. HvrMultiEnd waits until no job of the handle runs
// and frees every job of the handle.
HVR_API int HvrMultiStart(KtWdlManager** handle, HvrJobInfo* tmpl, HvrLinkArray** links);
HVR_API int HvrMultiEnd(KtWdlManager** handle, HvrLinkArray** links);
HVR_API int HvrMultiStop(KtWdlManager** handle);

// Progress. A negative index selects the first running job. Text queries copy into buf, which
// must hold HVR_TEXT_BUFFER_SIZE bytes; they return 0 on success and 1 on failure.
HVR_API int HvrIsDL(KtWdlManager** handle, int index);
HVR_API int HvrGetDLNum(KtWdlManager** handle);
HVR_API int HvrGetDLSiteName(KtWdlManager** handle, int index, char* buf);
HVR_API int HvrGetDLFileName(KtWdlManager** handle, int index, char* buf);
HVR_API int HvrGetDLURL(KtWdlManager** handle, int index, char* buf);
HVR_API int HvrGetDLSize(KtWdlManager** handle, int index);
HVR_API int HvrGetDLRestoredSize(KtWdlManager** handle, int index);
HVR_API int HvrGetDLRestoredNum(KtWdlManager** handle, int index);
HVR_API int HvrGetDLFailedNum(KtWdlManager** handle, int index);

// The job's log file: opened (path must have an extension) and closed between start and end.
HVR_API void HvrLogStart(HvrJobInfo* job, const char* path);
HVR_API void HvrLogStop(HvrJobInfo* job);

// Bookmark stores into link arrays. append 0 makes a new array in *links (an earlier one is not
// freed); non-zero adds to *links. Favorites go in front, the other stores at the end.
HVR_API int HvrGetFavorites(HvrLinkArray** links, const char* root, int append);
HVR_API int HvrGetBookmarks(const char* file, HvrLinkArray** links, const char* root, int append);
HVR_API int HvrGet4xBookmarks(HvrLinkArray** links, const char* root, int append);
HVR_API int HvrGetHotlists(HvrLinkArray** links, const char* root, int append);
HVR_API int HvrGetOpera5(HvrLinkArray** links, const char* root, int append);
HVR_API int HvrGet4xBookmarksPath(std::string* path);
HVR_API int HvrDelLinkArray(HvrLinkArray** links);

#endif  // HARVO_H
