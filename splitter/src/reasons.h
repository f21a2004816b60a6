// Why a file cannot be split, in the words of its output line. Every
// exception a library throws while a file is read, judged or written
// becomes its reason here, in one place.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace orvane {

// A reason, fit to show the user, why a file cannot be split.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What the splitter was doing with the file when the exception came.
struct Doing {
    enum Step {
        Opening,       // reading its structure
        ReadingPages,  // walking its page tree
        ReadingPage,   // looking at page `first`
        Copying,       // copying pages `first`..`last` into a document
    } step;
    int first = 0, last = 0;  // 0-based pages
};

// The file's reason for exception `e` (a FileError keeps its own). Library
// messages lose the file's path (qpdf starts them with it): the output line
// names the file already, relative to the source folder.
std::string fileReason(const std::exception& e, const std::string& path, Doing doing);

// The reason for pages that cannot be read, with the library's words.
std::string unreadablePages(const std::string& detail);

}  // namespace orvane
