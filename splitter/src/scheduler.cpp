#include "scheduler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "blank_pages.h"
#include "detect.h"
#include "document_names.h"
#include "events.h"
#include "folders.h"
#include "helper.h"
#include "path_text.h"
#include "page_text.h"
#include "pdf_source.h"
#include "reasons.h"
#include "report.h"
#include "sheets.h"
#include "split_plan.h"

namespace fs = std::filesystem;

namespace orvane {

namespace {

// A file with more pages than twice this is looked at in chunks of kChunk
// pages, which idle workers help with.
constexpr int kChunk = 24;

// A source file on its way through the workers, shared by every thread that
// works on it and by the main thread, which prints its line. Only the
// atomics and the fields under `lock` may be touched at any time; every other
// field has one writer at a time, and is handed on to its readers by the
// queue's mutex (a task queued after the write), by the atomic `pending`
// (the worker whose decrement reaches 0 sees every write made before the
// others' decrements) or by the splitter's doneLock_ (`done`). Each field
// says which: a new one must too.
struct Job {
    // Set by the main thread before the workers start; only read after.
    fs::path source;
    std::string shown;  // path relative to SRC, as shown to the user
    std::string stem;
    std::string plannedName;
    // Written by the worker that starts the file (its trial), before it
    // queues the looking. The page count its trial reading found (before any
    // worker opens the file itself): every opener reads it at once.
    int pages = 0;
    // Sized by the worker that begins the looking, before it queues the call
    // for help; element i then written by the one worker that took its
    // chunk, and read only once `pending` has reached 0.
    std::vector<PageResult> results;
    // Chunks of pages to look at, then documents to write: the worker that
    // began looking at the file works through them and idle workers join
    // in, each taking the next one not taken yet. Written with `results`.
    int chunkPages = 0, chunks = 0;
    std::atomic<int> nextChunk{0};
    std::atomic<std::size_t> nextDocument{0};
    // With --ocr, set with `documents`: the pages to recognise (those of the
    // documents to be written, in order) and their texts, element k written
    // by the one worker that took page k, read once `pending` reached 0.
    std::vector<int> ocrPages;
    std::vector<PageText> texts;
    std::atomic<std::size_t> nextOcr{0};
    std::atomic<int> pending{0};
    std::atomic<bool> failed{false};
    // Guards `error` and `repairs` while workers may still fail the file or
    // open it; once `pending` has reached 0 for the last time they are read
    // without it.
    std::mutex lock;
    std::optional<FileError> error;
    std::size_t repairs = 0;
    // Written by the worker that saw the last chunk through, before it
    // queues the writing; only read after.
    fs::path folder;
    std::vector<Document> documents;
    // Under the splitter's doneLock_: set by the worker that finishes the
    // file; the main thread reads the rest of the job only once it is done.
    std::string line;
    bool done = false;

    void fail(const FileError& why) {
        std::lock_guard<std::mutex> g(lock);
        if (!failed.exchange(true)) error = why;
    }
    // A reason as it is; what escaped untranslated (memory running out) is
    // translated here.
    void fail(const std::exception& e) { fail(libraryError(e, pathText(source), Doing{Doing::Opening})); }
    void repaired(const SourcePdf& pdf) {
        std::lock_guard<std::mutex> g(lock);
        repairs = std::max(repairs, pdf.repairs());
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
            pdf.reset(new SourcePdf(pathText(j.source), helper, j.pages));
            job = &j;
        }
        return *pdf;
    }
};

using Task = std::function<void(Worker&)>;

// A document's pages' recognised texts, one a page: none where the page
// keeps no text, or where nothing was found on it (the page stays as it was).
std::vector<const PageText*> textsOf(const Job& job, const Document& doc) {
    std::vector<const PageText*> texts;
    for (int p : doc.pages) {
        const auto at = std::lower_bound(job.ocrPages.begin(), job.ocrPages.end(), p);
        const std::size_t k = static_cast<std::size_t>(at - job.ocrPages.begin());
        const bool none = job.results[static_cast<std::size_t>(p)].noText || job.texts[k].lines.empty();
        texts.push_back(none ? nullptr : &job.texts[k]);
    }
    return texts;
}

class Splitter {
public:
    Splitter(const fs::path& dst, int threshold, int workers, const Options& options)
        : threshold_(threshold), workers_(workers), options_(options), looking_(options.sheets), events_(dst),
          folders_(dst) {
        looking_.pages = options.blankPages != BlankPages::Keep;
    }

    int run(const fs::path& src, const fs::path& dst, const std::vector<fs::path>& files);

private:
    void pushBack(Task t);
    bool queueIdle();
    void workerLoop();
    // Runs `step` on the worker's open copy of the file; a failure is the
    // file's.
    void withFile(Job& job, Worker& w, const std::function<void(SourcePdf&)>& step);

    void start(Job& job, Worker& w);
    void beginLooking(Job& job, Worker& w);
    void lookAtChunks(Job& job, Worker& w);
    void look(Job& job, Worker& w, int from, int to);
    void afterLooking(Job& job, Worker& w);
    void beginRecognising(Job& job, Worker& w);
    void recognisePages(Job& job, Worker& w);
    void beforeWriting(Job& job, Worker& w);
    void writeDocuments(Job& job, Worker& w);
    void finish(Job& job);

    int threshold_;
    int workers_;
    Options options_;
    SheetKinds looking_;  // the sheets asked for, and every page's emptiness with blank pages
    Events events_;
    OutputFolders folders_;

    std::mutex queueLock_;
    std::condition_variable queueCv_;
    std::deque<Task> queue_;
    bool stop_ = false;

    std::mutex doneLock_;
    std::condition_variable doneCv_;
};

void Splitter::pushBack(Task t) {
    {
        std::lock_guard<std::mutex> g(queueLock_);
        queue_.push_back(std::move(t));
    }
    queueCv_.notify_one();
}

bool Splitter::queueIdle() {
    std::lock_guard<std::mutex> g(queueLock_);
    return queue_.empty();
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

void Splitter::withFile(Job& job, Worker& w, const std::function<void(SourcePdf&)>& step) {
    if (job.failed) return;
    try {
        SourcePdf& pdf = w.open(job);
        step(pdf);
        job.repaired(pdf);
    } catch (const std::exception& e) {
        job.fail(e);
    }
}

void Splitter::start(Job& job, Worker& w) {
    // The trial's page count is all the chunks need: a worker that joins
    // opens its own copy of the file while this one opens its.
    try {
        job.pages = passTrial(w.helper, pathText(job.source), newFileId());
    } catch (const std::exception& e) {
        job.fail(e);
    }
    // No pages: opening it tells why (none at all, or a broken page tree).
    if (!job.failed && job.pages == 0) withFile(job, w, [](SourcePdf&) {});
    if (job.failed) return finish(job);
    events_.opened(job.shown, job.pages);
    // The looking waits behind the trials of the files not started yet, so
    // that the job's page total is known early, not only once the last file
    // is reached; a trial is a small part of a file's work. With nothing
    // waiting, this worker goes on at once, with the helper it has: an idle
    // worker taking it over would start a helper of its own.
    if (queueIdle()) return beginLooking(job, w);
    pushBack([this, &job](Worker& wk) { beginLooking(job, wk); });
}

void Splitter::beginLooking(Job& job, Worker& w) {
    job.results.assign(static_cast<std::size_t>(job.pages), PageResult{});
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
    withFile(job, w, [&](SourcePdf& pdf) {
        // Told every kChunk pages, also in a range of a whole file.
        for (int i = from, told = from; i < to && !job.failed; ++i) {
            job.results[static_cast<std::size_t>(i)] = pdf.lookAt(i, threshold_, looking_);
            if (!job.failed && (i + 1 - told == kChunk || i + 1 == to)) {
                events_.looked(job.shown, i + 1 - told);
                told = i + 1;
            }
        }
    });
    if (--job.pending == 0) afterLooking(job, w);
}

void Splitter::afterLooking(Job& job, Worker& w) {
    if (job.failed) return finish(job);
    std::vector<PageLook*> looks;
    for (PageResult& r : job.results) looks.push_back(&r.look);
    settleFile(looks, threshold_);
    // The closer looks the file's step still asks for, if any, are taken
    // here, with this worker's copy of the file.
    const BlankCloser closer = [&](std::size_t i, bool& unsure) {
        bool blank = false;
        withFile(job, w, [&](SourcePdf& pdf) { blank = pdf.blankCloser(static_cast<int>(i), job.results[i].look, unsure); });
        return blank;
    };
    noteBlankPages(job.results, options_);
    settleSheets(job.results, options_.sheets, closer);
    settleBlankPages(job.results, options_, closer);
    if (job.failed) return finish(job);
    std::vector<bool> separators;
    for (const PageResult& r : job.results) separators.push_back(r.look.separator);
    job.documents = planDocuments(separators, job.stem);
    attachCodes(job.documents, job.results);
    if (options_.blankPages == BlankPages::Drop) {
        std::vector<bool> dropped;
        for (const PageResult& r : job.results) dropped.push_back(r.dropped);
        dropPages(job.documents, dropped);
    }
    if (writtenCount(job.documents) == 0) return finish(job);
    if (!options_.ocr.empty()) return beginRecognising(job, w);
    beforeWriting(job, w);
}

// Recognition costs seconds a page where looking cost milliseconds: every
// worker is called to help, page by page, behind the files not started yet.
void Splitter::beginRecognising(Job& job, Worker& w) {
    for (const Document& d : job.documents) job.ocrPages.insert(job.ocrPages.end(), d.pages.begin(), d.pages.end());
    std::sort(job.ocrPages.begin(), job.ocrPages.end());
    job.texts.assign(job.ocrPages.size(), PageText{});
    job.pending = static_cast<int>(job.ocrPages.size());
    events_.recognising(job.shown, static_cast<int>(job.ocrPages.size()));
    const int helpers = std::min(workers_, static_cast<int>(job.ocrPages.size())) - 1;
    for (int i = 0; i < helpers; ++i) pushBack([this, &job](Worker& wk) { recognisePages(job, wk); });
    recognisePages(job, w);
}

void Splitter::recognisePages(Job& job, Worker& w) {
    for (std::size_t k; (k = job.nextOcr++) < job.ocrPages.size();) {
        const int page = job.ocrPages[k];
        const auto begun = std::chrono::steady_clock::now();
        bool kept = false;
        withFile(job, w, [&](SourcePdf& pdf) { kept = pdf.recognise(page, options_.ocr, job.texts[k]); });
        if (!job.failed) {
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
            job.results[static_cast<std::size_t>(page)].noText = !kept;
            events_.recognised(job.shown, page, seconds, kept);
            traceRecognised(job.shown, page, job.texts[k], seconds, kept);
        }
        if (--job.pending == 0) beforeWriting(job, w);
    }
}

void Splitter::beforeWriting(Job& job, Worker& w) {
    if (job.failed) return finish(job);
    const std::size_t n = writtenCount(job.documents);
    // Without a template the names stay planDocuments' own, byte for byte.
    std::optional<std::string> date;
    if (options_.namesGiven && options_.names.find("{date}") != std::string::npos) {
        std::string created;
        withFile(job, w, [&](SourcePdf& pdf) { created = pdf.creationDate(); });
        if (job.failed) return finish(job);
        date = scanDate(created, job.source);
    }
    if (const std::optional<FileError> why = folders_.make(job.plannedName, job.stem, job.folder)) {
        job.fail(*why);
        return finish(job);
    }
    if (options_.namesGiven) nameDocuments(job.documents, options_.names, job.stem, date, job.folder);
    job.pending = static_cast<int>(n);
    if (n > 1 && workers_ > 1) pushBack([this, &job](Worker& wk) { writeDocuments(job, wk); });
    writeDocuments(job, w);
}

void Splitter::writeDocuments(Job& job, Worker& w) {
    for (std::size_t d; (d = job.nextDocument++) < job.documents.size();) {
        const Document& doc = job.documents[d];
        if (doc.pages.empty()) continue;  // every page dropped: not written, not counted in `pending`
        const std::string path = pathText(job.folder / textPath(doc.name));
        withFile(job, w, [&](SourcePdf& pdf) {
            if (job.texts.empty()) return pdf.writeDocument(doc.pages, path);
            pdf.writeDocument(doc.pages, path, textsOf(job, doc));
        });
        if (--job.pending == 0) finish(job);
    }
}

void Splitter::finish(Job& job) {
    std::string line;
    if (job.failed) {
        // Never leave half a result: take away the folder this run made.
        if (!job.folder.empty()) {
            removeFolder(job.folder);
        }
        line = notSplitLine(job.shown, job.error->what());
        events_.notSplit(job.shown, *job.error);
    } else {
        tracePages(job.shown, job.results);
        const std::string folder = pathText(job.folder.filename());
        line = splitLine(job.shown, job.results, folder, job.documents, job.repairs > 0);
        events_.split(job.shown, job.results, folder, job.documents, options_.blankPages != BlankPages::Keep,
                      !options_.ocr.empty());
    }
    {
        std::lock_guard<std::mutex> g(doneLock_);
        job.line = std::move(line);
        job.done = true;
    }
    doneCv_.notify_all();
}

int Splitter::run(const fs::path& src, const fs::path& dst, const std::vector<fs::path>& files) {
    std::deque<Job> jobs;
    for (const fs::path& f : files) {
        jobs.emplace_back();
        Job& j = jobs.back();
        j.source = f;
        j.shown = pathText(f.lexically_relative(src));
        j.stem = pathText(f.stem());
        if (j.stem.empty() || j.stem == "." || j.stem == "..") j.stem = "document";
        j.plannedName = folders_.plan(j.stem);
    }
    if (jobs.empty()) emit("No PDF file found in " + pathText(src));
    if (events_.on()) {
        std::vector<std::string> shown;
        for (const Job& j : jobs) shown.push_back(j.shown);
        events_.start(src, dst, shown, workers_);
    }

    for (Job& j : jobs) pushBack([this, &j](Worker& w) { start(j, w); });
    std::vector<std::thread> threads;
    for (int i = 0; i < workers_; ++i) threads.emplace_back([this] { workerLoop(); });

    Totals totals;
    totals.files = static_cast<long>(jobs.size());
    for (Job& j : jobs) {
        std::string line;
        {
            std::unique_lock<std::mutex> g(doneLock_);
            doneCv_.wait(g, [&] { return j.done; });
            line = j.line;
        }
        emit(line);
        if (j.failed)
            ++totals.failed;
        else
            totals.add(j.results, writtenCount(j.documents));
        std::vector<PageResult>().swap(j.results);
        std::vector<PageText>().swap(j.texts);
    }
    {
        std::lock_guard<std::mutex> g(queueLock_);
        stop_ = true;
    }
    queueCv_.notify_all();
    for (std::thread& t : threads) t.join();
    traceHelpers();

    emit(summaryLine(totals));
    events_.end(totals.failed ? 1 : 0);
    return totals.failed ? 1 : 0;
}

}  // namespace

int splitFiles(const fs::path& src, const fs::path& dst, const std::vector<fs::path>& files, int workers,
               int threshold, const Options& options) {
    Splitter splitter(dst, threshold, workers, options);
    return splitter.run(src, dst, files);
}

}  // namespace orvane
