// The font of the invisible text layer: a composite font (Type0 over a
// CIDFontType2, Identity-H) whose character codes are UTF-16 units, with a
// TrueType program made here that has no outlines at all. Nothing of it is
// ever drawn; it is there so that the text can be found, read and copied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

namespace orvane {

// The TrueType program: two glyphs, both empty, 1000 units to the em.
std::string glyphlessTrueType();

// A code's advance in thousandths of the font size: 1000 for the wide
// characters of East Asian scripts (and the full-width forms, and the codes
// of characters beyond the plane, mostly ideographs), 500 for the rest.
int layerAdvance(std::uint16_t code);

// A character's code in the font: a character of the Basic Multilingual
// Plane is its own UTF-16 unit; one beyond it takes a code of the surrogate
// range (no character of its own), the next free one in `beyond` (the
// document's characters beyond the plane, in order of first use; 0xFFFD when
// all 2048 are taken), since a reader maps each code to text on its own and
// could not join the halves of a surrogate pair.
std::uint16_t layerCode(char32_t c, std::vector<char32_t>& beyond);

// The font as an indirect object of `pdf`, with its /ToUnicode map (each
// code to the same UTF-16 unit), and the map completed with the characters
// `beyond` the plane once the document's pages are laid.
QPDFObjectHandle makeLayerFont(QPDF& pdf);
void mapBeyondPlane(QPDF& pdf, QPDFObjectHandle font, const std::vector<char32_t>& beyond);

// A new stream of `pdf` holding `data`, Flate-compressed.
QPDFObjectHandle flateStream(QPDF& pdf, const std::string& data);

}  // namespace orvane
