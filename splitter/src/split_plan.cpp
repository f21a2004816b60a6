#include "split_plan.h"

#include <algorithm>

namespace orvane {

std::vector<Document> planDocuments(const std::vector<bool>& separators, const std::string& stem) {
    std::vector<Document> documents;
    const int pages = static_cast<int>(separators.size());
    int first = -1;
    for (int i = 0; i <= pages; ++i) {
        if (i < pages && !separators[static_cast<std::size_t>(i)]) {
            if (first < 0) first = i;
        } else if (first >= 0) {
            Document d{first, i - 1, std::string(), std::nullopt, {}};
            for (int p = first; p < i; ++p) d.pages.push_back(p);
            documents.push_back(std::move(d));
            first = -1;
        }
    }
    const std::size_t width = std::max<std::size_t>(3, std::to_string(documents.size()).size());
    for (std::size_t d = 0; d < documents.size(); ++d) {
        std::string num = std::to_string(d + 1);
        num.insert(0, width - num.size(), '0');
        documents[d].name = stem + "_" + num + ".pdf";
    }
    return documents;
}

void dropPages(std::vector<Document>& documents, const std::vector<bool>& dropped) {
    for (Document& d : documents)
        d.pages.erase(std::remove_if(d.pages.begin(), d.pages.end(),
                                     [&](int p) { return dropped[static_cast<std::size_t>(p)]; }),
                      d.pages.end());
}

std::size_t writtenCount(const std::vector<Document>& documents) {
    return static_cast<std::size_t>(
        std::count_if(documents.begin(), documents.end(), [](const Document& d) { return !d.pages.empty(); }));
}

}  // namespace orvane
