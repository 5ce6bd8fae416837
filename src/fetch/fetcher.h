// The fetcher of one job: requests one URL path at a time over the site's connection, finds the
// index file of a directory URL, compares with an earlier copy, saves the body (HTML pages token
// by token with their links handed to the site and rewritten for local browsing), stamps the
// file with the server's Last-Modified time and reports it to the site.
//
// Threads: one thread drives a fetcher (the job's walk, or one of the threads that fetch files
// over further connections beside it); the host's thread calls the progress getters, which take
// the site's lock. Requests and reads wait for the server without the lock, so that the job's
// connections are used at once.
#ifndef HARVO_FETCH_FETCHER_H
#define HARVO_FETCH_FETCHER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fetch/link_scan.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "site/site.h"
#include "util/kanji.h"

class CInternetSession;
class CHttpConnection;
class CHttpFile;

class KtWdlFetcher {
  friend class KtWdlFetcherTestPeer;

 public:
  // File types, from the extension of the current file.
  enum FileType {
    kTypeNone = 0,
    kTypeHtml = 1,
    kTypeJava = 2,
    kTypeGif = 3,
    kTypeJpeg = 4,
    kTypeZip = 5,
    kTypeLha = 6,
    kTypeExe = 7,
    kTypeCgi = 8,
    kTypeOther = 99,
  };

  // session gives the agent name and opens nothing itself; stop is the handle's stop request
  // (either may be null: no agent, never stopped).
  KtWdlFetcher(CInternetSession* session, const hvthread::StopFlag* stop, KtWdlSite* site);
  // A fetcher with a connection of its own (not the site's), which it deletes.
  KtWdlFetcher(CInternetSession* session, const hvthread::StopFlag* stop, KtWdlSite* site,
               std::unique_ptr<CHttpConnection> connection);
  virtual ~KtWdlFetcher();
  KtWdlFetcher(const KtWdlFetcher&) = delete;
  KtWdlFetcher& operator=(const KtWdlFetcher&) = delete;

  // Requests urlPath and prepares its download into saveDirectory. 0, or -1 when it could not
  // be requested (the reason is reported to the site where there is one).
  int RequestFile(const char* siteName, const char* urlPath, const char* saveDirectory,
                  const char* compareDirectory);
  // Receives and saves the body of the requested file; links receives the accepted links of an
  // HTML page in page order. 0 done, 1 stop requested, -1 the file could not be saved.
  int DownloadFile(KtWdlLinkList* links, int depth);
  int IsChanged() const;
  // An unchanged HTML page that is not received: hands the links of its earlier copy to the
  // site as DownloadFile would hand the page's (the copy's rewritten links map back to the same
  // server paths). 0 done, 1 stop requested, -1 the copy could not be read.
  int WalkEarlierCopy(KtWdlLinkList* links, int depth);
  int IsFileType(int type) const { return m_FileType == type ? 1 : 0; }
  // The index file name of a server directory ("" when none could be found). With
  // HVR_OPT_INDEX_ONCE each directory's name is asked of the server once per job. A probe that
  // the site's robots.txt disallows is not sent and counts as not found.
  std::string FindIndexName(const std::string& directory);
  // Requests the server's /robots.txt (on the site's server only, at most kMaxRobotsBytes of
  // it) and hands its rules for the session's agent to the site. Anything but a 200 answer, or
  // a transport failure, gives no rules: everything is allowed.
  void LoadRobots();
  static constexpr size_t kMaxRobotsBytes = 512 * 1024;

  // Progress getters (copies taken under the site's lock).
  std::string GetSiteName() const;
  std::string GetFileName() const;
  std::string GetUrlDirectory() const;
  int GetContentLength() const;
  int GetReceivedSize() const;
  // While other is set (not null), the progress getters answer with other's file: the walk
  // shows the file that it waits for. other must outlive the setting.
  void ShowProgressOf(const KtWdlFetcher* other);

  // Called with a listed path before the page being saved asks whether that path's file failed
  // (the file may still be on its way over another connection); null: nothing to wait for.
  using AwaitFile = std::function<void(const std::string& listedPath)>;
  void SetAwaitFile(AwaitFile await) { m_AwaitFile = std::move(await); }

 private:
  // Request steps.
  int StartRequest(const char* siteName, const char* urlPath, const char* saveDirectory,
                   const char* compareDirectory);
  int SendRequest(const char* urlPath);
  // Publishes the current file's names to the progress getters.
  void ShowCurrentFile();
  // Opens and sends a GET with the header block. An index probe follows redirects only on the
  // site's server.
  CHttpFile* OpenRequest(const std::string& objectName, bool indexProbe = false);
  // The server's answers behind FindIndexName: .htaccess, then the probes.
  std::string LookUpIndexName(const std::string& directory);
  int CheckLocalCopy(const char* directory);
  // Makes the save folder, and the folders above it up to the site folder.
  void MakeSaveFolder();
  // The saved file holds the body byte for byte (so its size is the server's length): every
  // file but an HTML page, and a page saved raw in its received code.
  bool IsSavedAsReceived() const;
  void ClassifyFile();
  void CloseRequest();
  // Why a path must not become a local file name, in words; null when it may. Refused: a path
  // that could lead out of the site folder (a ".." component with "/" or "\\", a leading
  // separator; one "/" is allowed for a root object name) and one with a control byte
  // (0x00-0x1F, 0x7F).
  static const char* UnsafeLocalName(std::string_view urlPath, bool rootObject);
  static bool HasControlByte(std::string_view text);

  // Body steps.
  int ReceiveHtml(hvfs::OutputFile* out, KtWdlLinkList* links, int depth);
  int ReceiveOther(hvfs::OutputFile* out);
  // Reads the next block of the body into the receive buffer and counts it for the progress and
  // the job's size limit: the byte count, 0 at the end of the body (or when a stop cut the read
  // short), or -2 on a transport failure (its words kept for the failure report).
  int ReadBlock(unsigned block);
  // Tokenizes one block of page text; out (null with raw pages) receives the saved copy, and
  // m_RawOut, when set, the raw one. 0 done, 1 a stop was requested, -1 a write failed.
  int ScanBlock(std::string_view text, hvfs::OutputFile* out, KtWdlLinkList* links, int depth);
  // Handles the token that the end of the page cut. 0, or -1 on a write failure.
  int ScanEnd(hvfs::OutputFile* out, KtWdlLinkList* links, int depth);
  // Writes the token that ProcessToken left to the copy (out null: none), or to a raw page the
  // relabelled charset in place of the token's text, which ends at tokenEnd. False on failure.
  bool WriteToken(hvfs::OutputFile* out, uint64_t tokenEnd);
  bool IsStopping() const;
  // What a read that gave no bytes means: 0 the end of the body, or (1) a stop cut it short.
  int EndOfBody() const;
  // Converts a received block into the page's text code; returns the block to use.
  std::string_view ConvertBlock(const unsigned char* data, unsigned size);
  // At the end of the body: the text of a unit that the end cut, held back by the conversion.
  std::string_view FinishConversion();
  void SleepInterval();

  // Links inside attribute values, style blocks and style sheets (HVR_OPT_MORE_LINKS).
  class PageSink;
  enum ValueKind { kValueNone = 0, kValueSrcset = 1, kValueStyle = 2, kValueRefresh = 3 };
  enum ValueMode { kNoValue = 0, kValueWait = 1, kValueIn = 2 };
  // The kind of value that an attribute name announces in the current tag.
  int SpecialAttribute(std::string_view name) const;
  // Keeps the tag name and whether the tag is a refresh, for the attributes that follow.
  void NoteTagToken(std::string_view token, bool tagName);
  // Passes an attribute value whose links the value scanners find; returns at its end.
  void ScanValue(const char** cursor, size_t* count, hvfs::OutputFile* out, KtWdlLinkList* links,
                 int depth);
  // Passes the text of a style block up to its end tag, which it leaves as the tokenizer would.
  void ScanStyle(const char** cursor, size_t* count, hvfs::OutputFile* out, KtWdlLinkList* links,
                 int depth);
  // At the end of the page: a value or style block that the end cut.
  void FinishValueAndStyle(hvfs::OutputFile* out, KtWdlLinkList* links, int depth);
  int ReceiveCss(hvfs::OutputFile* out, KtWdlLinkList* links, int depth);
  bool IsStyleSheet() const;
  bool IsShiftJisText() const;
  // What a link found by a value scanner becomes: resolved, filtered and reported like an
  // attribute's link; its query and fragment stay as they are.
  std::string ResolveFoundLink(std::string_view value, KtWdlLinkList* links, int depth);

  // Tokenizer and link handling.
  void ResetTokenizer();
  int NextToken(const char** cursor, size_t* count, hvfs::OutputFile* out);
  int ProcessToken(KtWdlLinkList* links, int depth);
  int IsLinkAttribute(std::string_view token) const;
  static int IsSpaceChar(unsigned char c);
  static int IsDelimiterChar(unsigned char c);
  static void WriteSpace(unsigned char c, hvfs::OutputFile* out);
  static void WriteSpaceRun(const char* begin, const char* end, hvfs::OutputFile* out);
  // Running text outside tags, quotes and comments with no attribute waiting for its value:
  // no token rule looks at its words, so it is passed to the copy up to the next delimiter
  // without being cut into tokens (the copy comes out the same).
  bool IsPlainText() const;
  void SkipPlainText(const char** cursor, size_t* count, hvfs::OutputFile* out);
  // Ends the token being collected: blanks collected inside quotes are removed.
  bool FinishToken();
  // Adds token bytes; past kMaxTokenLength they go to the copy instead (see there).
  void AppendToToken(const char* begin, const char* end, hvfs::OutputFile* out);
  // Writes token bytes to the copy as FinishToken would leave them; keeps their last two.
  void SpillToken(std::string_view bytes, hvfs::OutputFile* out);
  bool TokenEndsWithDashes() const;
  int ProcessLink(KtWdlLinkList* links, int depth);
  // The link forms, each to its resolution step.
  int DispatchLink(KtWdlLinkList* links, int depth);
  // The token is a link value in single quotes (with HVR_OPT_MORE_LINKS), not already inside
  // such a pair.
  bool IsSingleQuoted() const;
  // With HVR_OPT_REMOTE_LINKS: the absolute URL that replaces a link whose file the job will not
  // copy, as far as is known while the page is saved; empty to keep the resolved value.
  std::string RemoteUrl(const std::string& original) const;
  // The listed path's file is going to be copied: listed, not failed, within the folder-depth
  // limit and not refused by the server's rules.
  bool WillBeCopied(const std::string& path) const;
  bool IsRefusedByServerRules(const std::string& listedPath) const;
  int ResolveSiteLink(KtWdlLinkList* links, int depth);
  int ResolveDotLink(KtWdlLinkList* links, int depth);
  static size_t FolderDepth(std::string_view directory);
  // "/path" and "//host/path" links (with HVR_OPT_ROOT_LINKS).
  int ResolveRootLink(KtWdlLinkList* links, int depth);
  // A link with a query (with HVR_OPT_QUERY_PAGES): its path is resolved as any link, reported
  // with the query, and the value leads to the query's local file.
  int ResolveQueryLink(KtWdlLinkList* links, int depth);
  // "http://" and the server as links name it.
  std::string SiteOrigin() const;
  void AppendIndexName(std::string_view tested, const std::string& directory);
  void ReportLink(const std::string& path, KtWdlLinkList* links, int depth);

  CInternetSession* m_Session;
  const hvthread::StopFlag* m_Stop;
  KtWdlSite* m_Site;
  CHttpConnection* m_Connection = nullptr;
  std::unique_ptr<CHttpConnection> m_OwnConnection;  // when the fetcher has its own
  AwaitFile m_AwaitFile;
  std::vector<std::string> m_AttributeNames;
  CHttpFile* m_Request = nullptr;
  // Index names found so far, by directory without a leading "/" (HVR_OPT_INDEX_ONCE only): one
  // entry per distinct folder the site's links named.
  std::unordered_map<std::string, std::string> m_IndexNames;

  // Current file, as the worker uses it.
  std::string m_SiteName;
  std::string m_FileName;
  std::string m_LocalName;  // the name the file is saved as: m_FileName but for query pages
  std::string m_Extension;
  int m_FileType = 0;
  std::string m_UrlDirectory;
  std::atomic<int32_t> m_ContentLength{0};  // 0 for an encoded body (size unknown)
  bool m_Encoded = false;                   // the body comes compressed and is read decoded
  int32_t m_LastModified = 0;
  std::string m_SaveDirectory;
  // The save folder that MakeSaveFolder made last (empty when making it failed).
  std::string m_MadeFolder;
  std::atomic<int32_t> m_Received{0};
  std::string m_CompareDirectory;
  // The current file as the progress queries show it: set when a request has been made.
  std::string m_ShownSiteName GUARDED_BY(m_Site);
  std::string m_ShownFileName GUARDED_BY(m_Site);
  std::string m_ShownUrlDirectory GUARDED_BY(m_Site);
  const KtWdlFetcher* m_ShownFrom GUARDED_BY(m_Site) = nullptr;
  bool m_HasLocalCopy = false;
  bool m_LocalPartial = false;   // the earlier copy was cut short by a stop
  std::string m_TransportError;  // the words of a transport failure while receiving
  std::string m_IndexError;      // the words of the transport failure that ended an index look-up
  int64_t m_LocalSize = 0;
  int64_t m_LocalTime = 0;
  bool m_ScanningCopy = false;  // the tokenizer reads an earlier copy: nothing is rewritten

  // The page's text code: a detection result, or kKanjiUtf8 for UTF-8 text kept as received.
  static constexpr int kKanjiUtf8 = 100;
  bool IsConverted() const;
  // In a converted page, a declared charset of EUC-JP or ISO-2022-JP becomes Shift_JIS. True
  // when it replaced the token.
  bool RelabelCharset();
  int m_CharsetState = 0;

  // Raw pages: the file receives the page text as the converter produced it, except that a
  // relabelled charset replaces its label. Text offsets count bytes of the page's text.
  uint64_t OffsetOf(const char* p) const {
    return m_BlockOffset + static_cast<uint64_t>(p - m_Block);
  }
  char RawByteAt(uint64_t offset) const;
  // Writes the text before upTo that is not written yet; false on a write failure.
  bool RawWriteUpTo(uint64_t upTo);
  // Passes over the text before to without writing it.
  void RawSkipTo(uint64_t to);
  bool ReplaceRawToken(uint64_t tokenEnd);
  // At the end of a block: writes its text but that of a token still in progress (which may yet
  // be relabelled), or all of it.
  bool EndRawBlock(std::string_view text, bool all);
  hvfs::OutputFile* m_RawOut = nullptr;
  std::string m_RawHeld;  // the text from m_RawWritten up to the current block, not written yet
  uint64_t m_RawWritten = 0;
  const char* m_Block = nullptr;  // the block being scanned
  uint64_t m_BlockOffset = 0;     // offset of its first byte
  uint64_t m_TokenStart = 0;      // offset of the current token's first byte

  // Receive and conversion buffers, kept between files.
  std::vector<unsigned char> m_ReceiveBuffer;
  std::vector<unsigned char> m_ConvertBuffer;
  int m_KanjiCode = 0;
  // The conversion of the current page, from the text that decided its code on.
  KanjiConverter m_Converter;
  bool m_Converting = false;
  // The text code is decided on windows of this many bytes of the page, whatever the block
  // size, so that the saved page does not depend on it: text whose code is not decided yet
  // waits here (at most a window and a block) until its window is complete or the body ends.
  static constexpr size_t kDetectWindow = 16384;
  std::string m_Undecided;
  // Decides the code on the complete windows of m_Undecided (all of it when final) and moves
  // the text it decided on, converted where the code says so, to m_ConvertBuffer from used on.
  // Returns the new end of the text in m_ConvertBuffer.
  size_t DecideWindows(bool final, size_t used);
  // Converts (or copies, for codes that are not converted) text to m_ConvertBuffer from used on.
  size_t AppendConverted(const unsigned char* data, size_t size, size_t used);

  // Tokenizer state of the current page.
  int m_InToken = 0;
  int m_TokenLength = 0;
  int m_TokenCapacity = 0;
  int m_InTag = 0;
  int m_InQuote = 0;
  int m_AttributePending = 0;
  int m_AfterEquals = 0;
  int m_InComment = 0;
  int m_AfterOpen = 0;
  int m_CommentEndSeen = 0;
  std::string m_Token;  // the token being collected; link handling may rewrite it
  // A token longer than this is no link (servers refuse request lines far shorter, and the HTTP
  // layer refuses URLs over 8 MB): from there on it is written to the copy as it arrives rather
  // than held, so that a page of one endless token cannot fill the memory.
  static constexpr size_t kMaxTokenLength = 1 << 20;
  int m_TokenOverlong = 0;      // 1 once the current token outgrew kMaxTokenLength
  std::string m_TokenEnd;       // an overlong token's last two bytes as written
  bool m_LinkReported = false;  // the link being resolved was handed to the site
  std::string m_LinkQuery;      // "?query" of the link being resolved, reported with it
  std::string m_ReportedPath;   // the path the link being resolved was reported as
  bool m_Unquoting = false;     // resolving the link inside a value's single quotes

  // State of the link forms beyond the tokenizer's, reset with it.
  int m_SpecialKind = kValueNone;  // of the attribute waiting for "="
  int m_ValueMode = kNoValue;
  char m_ValueQuote = 0;  // the quote that ends the value, 0 for an unquoted one
  KtWdlLinkScanner* m_ValueScanner = nullptr;
  std::string m_TagName;  // lower case, of the current tag; empty when long or none
  bool m_RefreshTag = false;
  bool m_InStyle = false;
  std::string m_StyleHeld;  // the part of a style end tag seen so far
  KtWdlCssScanner m_Css;
  KtWdlSrcsetScanner m_Srcset;
  KtWdlRefreshScanner m_Refresh;
};

#endif  // HARVO_FETCH_FETCHER_H
