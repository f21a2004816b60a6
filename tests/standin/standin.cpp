// orvaneFun.exe stand-in for the tests.
//
// A small, real executable that takes the splitter's place: the controller
// starts it through the command shell exactly as it starts the real splitter,
// and the test decides what it does. It never starts a child process, so the
// only process named orvaneFun.exe that a test sees is this one.
//
// What it does comes from a script file:
//   1. the file named by the environment variable ORVANE_STANDIN_SCRIPT, if set
//      and not empty;
//   2. otherwise "orvaneFun.script" beside the executable, if it exists;
//   3. otherwise nothing: it prints nothing and exits with status 0.
//
// The script holds one directive a line, fields separated by single blanks.
// Every byte payload, file name or path is written in hexadecimal (two digits a
// byte, "-" for the empty value), so that any bytes can be printed, invalid
// UTF-8 and bare carriage returns included, and paths may hold blanks. Paths
// that are not absolute are taken relative to the working directory, except
// for mkdir, which works under the target folder (argv[2]).
// The directives run in the order written:
//
//   argv HEXPATH nl|nul    write argv[0..] to HEXPATH, each argument followed by
//                          "\n" (nl) or by a NUL byte (nul)
//   out HEX                write the bytes to standard output
//   err HEX                write the bytes to standard error
//   lines COUNT HEXPREFIX  write COUNT lines "<prefix><n>\n", n = 1..COUNT
//   repeat COUNT HEX       write the bytes COUNT times to standard output
//                          (one very long line, say)
//   mkdir HEXREL           create argv[2]/HEXREL (parents too)
//   touch HEXPATH          create the file (or leave an existing one alone)
//   exists HEXPATH HEXOUT  append "HEXPATH-as-text\t1\n" (or 0) to HEXOUT
//   pid HEXPATH            write the process id and "\n" to HEXPATH
//   sleep SECONDS          wait, in steps of 10 ms (SECONDS may be fractional)
//   waitfile HEXPATH SECONDS
//                          wait until HEXPATH exists, at most SECONDS
//   exit STATUS            end now with that exit status
//
// Standard output is flushed after every directive, so whatever was written
// before a sleep is already in the pipe when the process gets killed.
// Blank lines and lines starting with "#" are ignored. A malformed script is
// reported on standard error and ends the program with status 97.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kBadScript = 97;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "orvaneFun.exe stand-in: %s\n", why.c_str());
    std::fflush(stderr);
    std::exit(kBadScript);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string unhex(const std::string& text) {
    if (text == "-") return std::string();
    if (text.size() % 2 != 0) fail("odd hex length: " + text);
    std::string out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]);
        int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) fail("bad hex: " + text);
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

unsigned long long toCount(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        fail("bad count: " + text);
    return std::strtoull(text.c_str(), nullptr, 10);
}

double toSeconds(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(value >= 0.0)) fail("bad seconds: " + text);
    return value;
}

void writeAll(std::FILE* stream, const char* data, std::size_t size) {
    if (size == 0) return;
    if (std::fwrite(data, 1, size, stream) != size) {
        // The reader went away (the pipe closed): nothing left to do.
        std::exit(0);
    }
}

void writeAll(std::FILE* stream, const std::string& data) { writeAll(stream, data.data(), data.size()); }

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ' ')) {
        if (!field.empty()) fields.push_back(field);
    }
    return fields;
}

void need(const std::vector<std::string>& f, std::size_t n) {
    if (f.size() != n) fail("wrong number of fields in directive '" + f[0] + "'");
}

// Pauses in short steps: a kill lands at once, whatever the platform's sleep does.
void pause(double seconds) {
    using clock = std::chrono::steady_clock;
    auto until = clock::now() + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    while (clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

std::string findScript(const char* argv0) {
    const char* env = std::getenv("ORVANE_STANDIN_SCRIPT");
    if (env != nullptr && *env != '\0') return env;
    std::error_code ec;
    fs::path self;
#ifndef _WIN32
    self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) self = fs::path(argv0 ? argv0 : "");
#else
    self = fs::path(argv0 ? argv0 : "");
#endif
    fs::path beside = self.parent_path() / "orvaneFun.script";
    if (fs::is_regular_file(beside, ec)) return beside.string();
    return std::string();
}

void writeLines(unsigned long long count, const std::string& prefix) {
    std::string buffer;
    buffer.reserve(1 << 16);
    char number[32];
    for (unsigned long long n = 1; n <= count; ++n) {
        buffer += prefix;
        int len = std::snprintf(number, sizeof number, "%llu\n", n);
        buffer.append(number, static_cast<std::size_t>(len));
        if (buffer.size() >= (1 << 16) - 256) {
            writeAll(stdout, buffer);
            buffer.clear();
        }
    }
    writeAll(stdout, buffer);
}

void writeRepeated(unsigned long long count, const std::string& bytes) {
    if (bytes.empty()) return;
    std::string buffer;
    for (unsigned long long n = 0; n < count; ++n) {
        buffer += bytes;
        if (buffer.size() >= (1 << 16)) {
            writeAll(stdout, buffer);
            buffer.clear();
        }
    }
    writeAll(stdout, buffer);
}

void writeFile(const std::string& path, const std::string& content, bool append) {
    std::ofstream out(fs::u8path(path), std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    if (!out) fail("cannot write " + path);
    out << content;
    if (!out) fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::string scriptPath = findScript(argc > 0 ? argv[0] : nullptr);
    if (scriptPath.empty()) return 0;

    std::ifstream script(fs::u8path(scriptPath), std::ios::binary);
    if (!script) fail("cannot read script " + scriptPath);

    std::string line;
    while (std::getline(script, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f = splitFields(line);
        if (f.empty()) continue;
        const std::string& op = f[0];

        if (op == "argv") {
            need(f, 3);
            char sep;
            if (f[2] == "nl") sep = '\n';
            else if (f[2] == "nul") sep = '\0';
            else fail("argv separator must be nl or nul");
            std::string record;
            for (int i = 0; i < argc; ++i) {
                record += argv[i];
                record.push_back(sep);
            }
            writeFile(unhex(f[1]), record, false);
        } else if (op == "out") {
            need(f, 2);
            writeAll(stdout, unhex(f[1]));
        } else if (op == "err") {
            need(f, 2);
            writeAll(stderr, unhex(f[1]));
            std::fflush(stderr);
        } else if (op == "lines") {
            need(f, 3);
            writeLines(toCount(f[1]), unhex(f[2]));
        } else if (op == "repeat") {
            need(f, 3);
            writeRepeated(toCount(f[1]), unhex(f[2]));
        } else if (op == "mkdir") {
            need(f, 2);
            if (argc < 3) fail("mkdir needs the target folder as the third argument");
            std::error_code ec;
            fs::create_directories(fs::u8path(argv[2]) / fs::u8path(unhex(f[1])), ec);
            if (ec) fail("mkdir failed: " + ec.message());
        } else if (op == "touch") {
            need(f, 2);
            std::ofstream out(fs::u8path(unhex(f[1])), std::ios::binary | std::ios::app);
            if (!out) fail("cannot touch " + unhex(f[1]));
        } else if (op == "exists") {
            need(f, 3);
            std::string path = unhex(f[1]);
            std::error_code ec;
            bool there = fs::exists(fs::u8path(path), ec);
            writeFile(unhex(f[2]), path + "\t" + (there ? "1" : "0") + "\n", true);
        } else if (op == "pid") {
            need(f, 2);
            writeFile(unhex(f[1]), std::to_string(static_cast<long long>(getpid())) + "\n", false);
        } else if (op == "sleep") {
            need(f, 2);
            std::fflush(stdout);
            pause(toSeconds(f[1]));
        } else if (op == "waitfile") {
            need(f, 3);
            std::fflush(stdout);
            fs::path path = fs::u8path(unhex(f[1]));
            using clock = std::chrono::steady_clock;
            auto until = clock::now() +
                         std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(toSeconds(f[2])));
            std::error_code ec;
            while (!fs::exists(path, ec) && clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else if (op == "exit") {
            need(f, 2);
            std::fflush(stdout);
            return static_cast<int>(toCount(f[1]) & 0xff);
        } else {
            fail("unknown directive '" + op + "'");
        }
        if (std::fflush(stdout) != 0) return 0;
    }
    return 0;
}
