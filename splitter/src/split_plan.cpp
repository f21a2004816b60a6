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
            documents.push_back(Document{first, i - 1, std::string(), std::nullopt});
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

}  // namespace orvane
