// orvaneFun.exe SRC DST WORKERS THRESHOLD
//
// Splits every PDF under SRC at its coloured separator sheets. Each source
// gets one new folder directly inside DST holding one PDF per document.
// One line per source file goes to stdout (flushed at once, in source order),
// then a summary line.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "detect.h"
#include "events.h"
#include "helper.h"
#include "pdf_source.h"

namespace fs = std::filesystem;
using namespace orvane;

namespace {

constexpr const char* kUsage =
    "usage: orvaneFun.exe SRC DST WORKERS THRESHOLD\n"
    "  SRC        folder searched (with its subfolders) for PDF files\n"
    "  DST        existing folder that receives one new folder per PDF file\n"
    "  WORKERS    threads, 1-256 (0: one per processor)\n"
    "  THRESHOLD  chroma above which a pixel counts as coloured, 1-255 (0: 19)\n";

// A file with more pages than this is looked at in chunks of kChunk pages,
// which idle workers help with.
constexpr int kChunk = 24;

void emit(const std::string& line) {
    std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool parseNumber(const char* text, long max, long& value) {
    if (!text || !*text || std::strlen(text) > 9) return false;
    long v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
    }
    if (v > max) return false;
    value = v;
    return true;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// "1, 5-6, 14" for 0-based page indices.
std::string pageList(const std::vector<int>& pages) {
    std::string out;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t j = i;
        while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
        if (!out.empty()) out += ", ";
        out += std::to_string(pages[i] + 1);
        if (j > i) out += "-" + std::to_string(pages[j] + 1);
        i = j + 1;
    }
    return out;
}

std::string pageSpan(int first, int last) {
    return first == last ? "page " + std::to_string(first + 1)
                         : "pages " + std::to_string(first + 1) + "-" + std::to_string(last + 1);
}

struct Job {
    fs::path source;
    std::string shown;  // path relative to SRC, as shown to the user
    std::string stem;
    std::string plannedName;
    int pages = 0;
    // Set once the file has passed its trial reading (in start, before any
    // other worker can open it): later openers skip the trial.
    bool readOnTrial = true;
    std::vector<PageResult> results;
    // Chunks of pages to look at, then documents to write: the worker that
    // started the file works through them and idle workers join in, each
    // taking the next one not taken yet.
    int chunkPages = 0, chunks = 0;
    std::atomic<int> nextChunk{0};
    std::atomic<std::size_t> nextDocument{0};
    std::atomic<int> pending{0};
    std::atomic<bool> failed{false};
    std::mutex lock;
    std::string error;
    fs::path folder;
    std::vector<Document> documents;
    std::size_t repairs = 0;
    std::string line;
    bool done = false;

    void fail(const std::string& why) {
        std::lock_guard<std::mutex> g(lock);
        if (!failed.exchange(true)) error = why;
    }
};

struct Worker {
    Job* job = nullptr;
    std::unique_ptr<SourcePdf> pdf;
    // Started when this worker first needs one, kept for all its files.
    Helper helper;

    SourcePdf& open(Job& j) {
        if (job != &j || !pdf) {
            pdf.reset();
            job = nullptr;
            pdf.reset(new SourcePdf(j.source.string(), helper, j.readOnTrial));
            job = &j;
        }
        return *pdf;
    }
};

using Task = std::function<void(Worker&)>;

class Splitter {
public:
    Splitter(fs::path dst, int threshold, int workers)
        : dst_(std::move(dst)), threshold_(threshold), workers_(workers), events_(dst_) {}

    int run(const fs::path& src, std::vector<fs::path> files);

private:
    void pushBack(Task t);
    void workerLoop();

    void start(Job& job, Worker& w);
    void lookAtChunks(Job& job, Worker& w);
    void look(Job& job, Worker& w, int from, int to);
    void afterLooking(Job& job, Worker& w);
    void writeDocuments(Job& job, Worker& w);
    void write(Job& job, Worker& w, std::size_t doc);
    void finish(Job& job);
    bool makeFolder(Job& job);
    std::string planName(const std::string& stem);

    fs::path dst_;
    int threshold_;
    int workers_;
    Events events_;

    std::mutex queueLock_;
    std::condition_variable queueCv_;
    std::deque<Task> queue_;
    bool stop_ = false;

    std::mutex doneLock_;
    std::condition_variable doneCv_;

    std::mutex nameLock_;
    std::set<std::string> takenNames_;
};

void Splitter::pushBack(Task t) {
    {
        std::lock_guard<std::mutex> g(queueLock_);
        queue_.push_back(std::move(t));
    }
    queueCv_.notify_one();
}

void Splitter::workerLoop() {
    Worker w;
    for (;;) {
        Task t;
        {
            std::unique_lock<std::mutex> g(queueLock_);
            queueCv_.wait(g, [&] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) return;
            t = std::move(queue_.front());
            queue_.pop_front();
        }
        t(w);
    }
}

void Splitter::start(Job& job, Worker& w) {
    try {
        SourcePdf& pdf = w.open(job);
        job.readOnTrial = false;
        job.pages = pdf.pageCount();
        job.repairs = pdf.repairs();
        job.results.assign(static_cast<std::size_t>(job.pages), PageResult{});
        events_.opened(job.shown, job.pages);
    } catch (const FileError& e) {
        job.fail(e.what());
        return finish(job);
    } catch (const std::exception& e) {
        job.fail(std::string("cannot be read (") + e.what() + ")");
        return finish(job);
    }
    job.chunkPages = workers_ == 1 || job.pages <= 2 * kChunk ? job.pages : kChunk;
    job.chunks = (job.pages + job.chunkPages - 1) / job.chunkPages;
    job.pending = job.chunks;
    // The call for help waits behind the files not started yet: while there
    // are any, every worker has a file of its own, and joining another's
    // would only make both open and read it.
    if (job.chunks > 1) pushBack([this, &job](Worker& wk) { lookAtChunks(job, wk); });
    lookAtChunks(job, w);
}

void Splitter::lookAtChunks(Job& job, Worker& w) {
    for (int c; (c = job.nextChunk++) < job.chunks;)
        look(job, w, c * job.chunkPages, std::min(job.pages, (c + 1) * job.chunkPages));
}

void Splitter::look(Job& job, Worker& w, int from, int to) {
    if (!job.failed) {
        try {
            SourcePdf& pdf = w.open(job);
            for (int i = from; i < to && !job.failed; ++i)
                job.results[static_cast<std::size_t>(i)] = pdf.lookAt(i, threshold_);
            if (!job.failed) events_.looked(job.shown, to - from);
            std::lock_guard<std::mutex> g(job.lock);
            job.repairs = std::max(job.repairs, pdf.repairs());
        } catch (const FileError& e) {
            job.fail(e.what());
        } catch (const std::exception& e) {
            job.fail(std::string("cannot be read (") + e.what() + ")");
        }
    }
    if (--job.pending == 0) afterLooking(job, w);
}

void Splitter::afterLooking(Job& job, Worker& w) {
    if (job.failed) return finish(job);
    // Final verdicts: a sheet must stand out from the paper of the file's
    // ordinary pages, known only now that every page has been looked at.
    FilePaper paper;
    for (const PageResult& r : job.results) paper.add(r.look);
    for (PageResult& r : job.results) paper.settle(r.look, threshold_);
    // One document per run of pages between separator sheets; empty runs
    // (a sheet at either end, or both sides of a duplex-scanned sheet) give
    // nothing.
    int first = -1;
    for (int i = 0; i <= job.pages; ++i) {
        const bool boundary = i == job.pages || job.results[static_cast<std::size_t>(i)].look.separator;
        if (!boundary) {
            if (first < 0) first = i;
        } else if (first >= 0) {
            job.documents.push_back(Document{first, i - 1, std::string()});
            first = -1;
        }
    }
    if (job.documents.empty()) return finish(job);
    if (!makeFolder(job)) return finish(job);

    const std::size_t n = job.documents.size();
    const int width = std::max<int>(3, static_cast<int>(std::to_string(n).size()));
    for (std::size_t d = 0; d < n; ++d) {
        std::string num = std::to_string(d + 1);
        num.insert(0, static_cast<std::size_t>(width) - num.size(), '0');
        job.documents[d].name = job.stem + "_" + num + ".pdf";
    }
    job.pending = static_cast<int>(n);
    if (n > 1 && workers_ > 1) pushBack([this, &job](Worker& wk) { writeDocuments(job, wk); });
    writeDocuments(job, w);
}

void Splitter::writeDocuments(Job& job, Worker& w) {
    for (std::size_t d; (d = job.nextDocument++) < job.documents.size();) write(job, w, d);
}

void Splitter::write(Job& job, Worker& w, std::size_t doc) {
    if (!job.failed) {
        try {
            const Document& d = job.documents[doc];
            SourcePdf& pdf = w.open(job);
            pdf.writeDocument(d.first, d.last, (job.folder / d.name).string());
            std::lock_guard<std::mutex> g(job.lock);
            job.repairs = std::max(job.repairs, pdf.repairs());
        } catch (const FileError& e) {
            job.fail(e.what());
        } catch (const std::exception& e) {
            job.fail(std::string("a document cannot be written (") + e.what() + ")");
        }
    }
    if (--job.pending == 0) {
        finish(job);
    }
}

// The folder is made directly inside DST, under a name no entry of DST has:
// an existing folder is never written into, and two sources with one name
// get two folders. Names are planned in source order before any work starts
// (so the first of two "report.pdf" gets "report" whatever the threads do);
// an entry that appears in DST meanwhile still moves the folder on to a
// fresh name, since create_directory fails on it.
std::string Splitter::planName(const std::string& stem) {
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? stem : stem + "_" + std::to_string(n);
        if (takenNames_.insert(lower(name)).second) return name;
    }
}

bool Splitter::makeFolder(Job& job) {
    std::lock_guard<std::mutex> g(nameLock_);
    std::string name = job.plannedName;
    for (int tries = 0; tries < 100000; ++tries) {
        const fs::path folder = dst_ / name;
        std::error_code ec;
        if (fs::create_directory(folder, ec)) {
            job.folder = folder;
            return true;
        }
        if (ec && !fs::exists(fs::symlink_status(folder, ec))) {
            job.fail("its output folder cannot be made in the target folder");
            return false;
        }
        name = planName(job.stem);
    }
    job.fail("no free output folder name in the target folder");
    return false;
}

bool tracing() {
    static const bool on = [] {
        const char* v = std::getenv("ORVANE_SPLITTER_TRACE");
        return v && *v && std::strcmp(v, "0") != 0;
    }();
    return on;
}

// ORVANE_SPLITTER_TRACE=1 shows on stderr how each page was judged.
void trace(const Job& job) {
    if (!tracing()) return;
    static std::mutex lock;
    std::lock_guard<std::mutex> g(lock);
    for (int i = 0; i < job.pages; ++i) {
        const PageResult& r = job.results[static_cast<std::size_t>(i)];
        const char* how = r.path == LookPath::Jpeg ? "jpeg" : r.path == LookPath::Grey ? "grey" : "rendered";
        std::fprintf(stderr, "trace %s page %d: %s share=%.3f hue=%d standout=%d rows=%d/%d separator=%d unsure=%d\n",
                     job.shown.c_str(), i + 1, how, r.look.share, r.look.hue, r.look.standout,
                     r.look.rowsRead, r.look.height, r.look.separator ? 1 : 0, r.look.unsure ? 1 : 0);
    }
    std::fflush(stderr);
}

// And how many helper processes the run started, and how many crashed.
void traceHelpers() {
    if (!tracing()) return;
    std::fprintf(stderr, "helpers: %zu started, %zu crashed\n", helpersStarted(), helperCrashes());
    std::fflush(stderr);
}

void Splitter::finish(Job& job) {
    if (!job.failed) trace(job);
    std::string line = job.shown + ": ";
    if (job.failed) {
        // Never leave half a result: take away the folder this run made.
        if (!job.folder.empty()) {
            std::error_code ec;
            fs::remove_all(job.folder, ec);
        }
        line += "NOT SPLIT: " + job.error;
        events_.notSplit(job.shown, job.error);
    } else {
        std::vector<int> separators, unsure;
        for (int i = 0; i < job.pages; ++i) {
            const PageLook& look = job.results[static_cast<std::size_t>(i)].look;
            if (look.separator) separators.push_back(i);
            if (look.unsure) unsure.push_back(i);
        }
        line += std::to_string(job.pages) + (job.pages == 1 ? " page" : " pages");
        line += "; separators: " + (separators.empty() ? std::string("none") : pageList(separators));
        if (!unsure.empty()) line += "; check: " + pageList(unsure);
        if (job.documents.empty()) {
            line += "; no document written (no pages between the separator sheets)";
        } else {
            const std::size_t n = job.documents.size();
            line += "; " + std::to_string(n) + (n == 1 ? " document" : " documents") + " in \"" +
                    job.folder.filename().string() + "\": ";
            for (std::size_t d = 0; d < n; ++d) {
                if (d) line += ", ";
                line += job.documents[d].name + " (" +
                        pageSpan(job.documents[d].first, job.documents[d].last) + ")";
            }
        }
        events_.split(job.shown, job.results, job.folder.filename().string(), job.documents);
        if (job.repairs)
            line += "; note: the file is damaged and was repaired while reading, please check the documents";
    }
    {
        std::lock_guard<std::mutex> g(doneLock_);
        job.line = std::move(line);
        job.done = true;
    }
    doneCv_.notify_all();
}

int Splitter::run(const fs::path& src, std::vector<fs::path> files) {
    {
        std::error_code ec;
        for (fs::directory_iterator it(dst_, ec), end; !ec && it != end; it.increment(ec))
            takenNames_.insert(lower(it->path().filename().string()));
    }
    std::deque<Job> jobs;
    for (const fs::path& f : files) {
        jobs.emplace_back();
        Job& j = jobs.back();
        j.source = f;
        j.shown = f.lexically_relative(src).string();
        j.stem = f.stem().string();
        if (j.stem.empty() || j.stem == "." || j.stem == "..") j.stem = "document";
        j.plannedName = planName(j.stem);
    }
    if (jobs.empty()) emit("No PDF file found in " + src.string());
    if (events_.on()) {
        std::vector<std::string> shown;
        for (const Job& j : jobs) shown.push_back(j.shown);
        events_.start(src, dst_, shown, workers_);
    }

    for (Job& j : jobs) pushBack([this, &j](Worker& w) { start(j, w); });
    std::vector<std::thread> threads;
    for (int i = 0; i < workers_; ++i) threads.emplace_back([this] { workerLoop(); });

    long pages = 0, separators = 0, unsure = 0, documents = 0, failed = 0;
    for (Job& j : jobs) {
        std::string line;
        {
            std::unique_lock<std::mutex> g(doneLock_);
            doneCv_.wait(g, [&] { return j.done; });
            line = j.line;
        }
        emit(line);
        if (j.failed) {
            ++failed;
        } else {
            pages += j.pages;
            for (const PageResult& r : j.results) {
                separators += r.look.separator ? 1 : 0;
                unsure += r.look.unsure ? 1 : 0;
            }
            documents += static_cast<long>(j.documents.size());
        }
        std::vector<PageResult>().swap(j.results);
    }
    {
        std::lock_guard<std::mutex> g(queueLock_);
        stop_ = true;
    }
    queueCv_.notify_all();
    for (std::thread& t : threads) t.join();
    traceHelpers();

    const long total = static_cast<long>(jobs.size());
    emit("Summary: " + std::to_string(total) + " PDF " + (total == 1 ? "file" : "files") + ", " +
         std::to_string(total - failed) + " split, " + std::to_string(failed) + " not split; " +
         std::to_string(pages) + " pages, " + std::to_string(separators) + " separator pages, " +
         std::to_string(documents) + " documents written" +
         (unsure ? "; " + std::to_string(unsure) + (unsure == 1 ? " page" : " pages") + " to check"
                 : std::string()));
    events_.end(failed ? 1 : 0);
    return failed ? 1 : 0;
}

std::vector<fs::path> findPdfs(const fs::path& src, const fs::path& dst) {
    std::vector<fs::path> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(src, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (it->is_directory(e2)) {
            // Never take our own output (DST inside SRC) for input.
            if (!it->is_symlink(e2) && fs::equivalent(it->path(), dst, e2)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(e2) && lower(it->path().extension().string()) == ".pdf")
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

// Under LeakSanitizer: fontconfig and poppler keep process-lifetime caches.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libpoppler\n";
}

int main(int argc, char** argv) {
    serveIfHelper(argc, argv);
    long workers = 0, threshold = 0;
    if (argc != 5 || !parseNumber(argv[3], 256, workers) || !parseNumber(argv[4], 255, threshold)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
    if (threshold == 0) threshold = kDefaultThreshold;

    const fs::path src(argv[1]), dst(argv[2]);
    std::error_code ec;
    if (!fs::is_directory(src, ec)) {
        emit("The source folder does not exist: " + src.string());
        return 2;
    }
    if (!fs::is_directory(dst, ec)) {
        emit("The target folder does not exist: " + dst.string());
        return 2;
    }
    Splitter splitter(dst, static_cast<int>(threshold), static_cast<int>(workers));
    return splitter.run(src, findPdfs(src, dst));
}
