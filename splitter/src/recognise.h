// Text recognition with tesseract: where its language data is, and, in a
// helper process only (a page's recognition can take minutes and much
// memory, and cannot be stopped inside a thread), a picture's text.
//
// The data folder is the first of these that exists, for every language:
// `tessdata` beside the running executable (where the Windows zip and the
// wheels put it), $TESSDATA_PREFIX (tesseract's own variable: the folder of
// the .traineddata files), the system's /usr/share/tesseract-ocr/5/tessdata.
// The tools look in the same order.
#pragma once

#include <string>

#include "page_text.h"
#include "picture.h"

namespace orvane {

// The data folder; when none of them exists, the last one looked in.
std::string tessdataFolder();
// Whether `name`.traineddata is in the data folder, which `folderLookedIn`
// is set to.
bool languageInstalled(const std::string& name, std::string& folderLookedIn);

// Recognises the text of `picture` with `languages` (names joined by '+')
// into `text`'s size and lines. Tesseract is set up once per helper and per
// set of languages; pages turned by 90 degrees are found when the data
// folder has osd.traineddata. False when tesseract cannot be set up for the
// languages or fails on the picture.
bool recognisePicture(const GreyPicture& picture, const std::string& languages, PageText& text);

}  // namespace orvane
