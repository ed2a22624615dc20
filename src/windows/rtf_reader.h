#pragma once

#include <QByteArray>

class QTextDocument;

namespace tarnveil {

// Replaces the content of `into` with the rich-text document `rtf`: paragraphs and
// line breaks, tabs, bold/italic/underline/strike-out, fonts, sizes, colours,
// alignment, indents and spacing, list numbers and bullets as plain text, characters
// of the document's code page and Unicode characters. Pictures, objects, headers,
// footers and the like are left out. Text without a font or size of its own keeps
// the document's default font.
//
// Any input is safe: a damaged document shows what could be read, and input that
// does not start as rich text is shown as plain text. Time is linear in the input.
void readRtf(const QByteArray& rtf, QTextDocument& into);

} // namespace tarnveil
