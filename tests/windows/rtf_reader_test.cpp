#include "windows/rtf_reader.h"

#include <QFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <random>

namespace tarnveil {
namespace {

QString read(const QByteArray& rtf, QTextDocument* keep = nullptr)
{
    QTextDocument local;
    QTextDocument& doc = keep ? *keep : local;
    readRtf(rtf, doc);
    return doc.toRawText();
}

// The format of the first character of the first occurrence of `text`.
QTextCharFormat formatOf(const QTextDocument& doc, const QString& text)
{
    const QTextCursor found = doc.find(text);
    EXPECT_FALSE(found.isNull()) << text.toStdString();
    QTextCursor at(const_cast<QTextDocument*>(&doc));
    at.setPosition(found.selectionStart() + 1);
    return at.charFormat();
}

QTextBlockFormat blockOf(const QTextDocument& doc, const QString& text)
{
    return doc.find(text).block().blockFormat();
}

TEST(RtfReader, ParagraphsLineBreaksAndTabs)
{
    QTextDocument doc;
    const QString text = read("{\\rtf1\\ansi Hello\\par World\\line again\\tab x\\par}", &doc);
    EXPECT_EQ(text, QStringLiteral("Hello\u2029World\u2028again\tx\u2029"));
    EXPECT_EQ(doc.blockCount(), 3);
    // Line ends in the source are not text; a backslash before one is a paragraph.
    EXPECT_EQ(read("{\\rtf1 one\r\ntwo\\\nthree}"), QStringLiteral("onetwo\u2029three"));
}

TEST(RtfReader, FormattingRunsLandOnTheRightCharacters)
{
    QTextDocument doc;
    read("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman\\fcharset0 Times New Roman;}}"
         "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
         "A{\\b B\\i C}D\\ul E\\ulnone F\\cf1 G\\cf0\\fs40 H\\plain I\\f1 J\\highlight2 K\\highlight0 "
         "\\strike L\\strike0\\b M\\b0 N\\ul0\\i1 O\\i0 P}",
         &doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("ABCDEFGHIJKLMNOP"));

    EXPECT_EQ(formatOf(doc, "A").fontWeight(), QFont::Normal);
    EXPECT_EQ(formatOf(doc, "A").fontFamilies().toStringList(), QStringList{"Arial"}); // \deff0
    EXPECT_EQ(formatOf(doc, "B").fontWeight(), QFont::Bold);
    EXPECT_FALSE(formatOf(doc, "B").fontItalic());
    EXPECT_EQ(formatOf(doc, "C").fontWeight(), QFont::Bold);
    EXPECT_TRUE(formatOf(doc, "C").fontItalic());
    EXPECT_EQ(formatOf(doc, "D").fontWeight(), QFont::Normal); // the group ended
    EXPECT_FALSE(formatOf(doc, "D").fontItalic());
    EXPECT_TRUE(formatOf(doc, "E").fontUnderline());
    EXPECT_FALSE(formatOf(doc, "F").fontUnderline());
    EXPECT_EQ(formatOf(doc, "G").foreground().color(), QColor(255, 0, 0));
    EXPECT_FALSE(formatOf(doc, "H").hasProperty(QTextFormat::ForegroundBrush)); // \cf0 is automatic
    EXPECT_DOUBLE_EQ(formatOf(doc, "H").fontPointSize(), 20.0);
    EXPECT_FALSE(formatOf(doc, "I").hasProperty(QTextFormat::FontPointSize)); // \plain
    EXPECT_EQ(formatOf(doc, "J").fontFamilies().toStringList(), QStringList{"Times New Roman"});
    EXPECT_EQ(formatOf(doc, "K").background().color(), QColor(0, 0, 255));
    EXPECT_FALSE(formatOf(doc, "L").hasProperty(QTextFormat::BackgroundBrush));
    EXPECT_TRUE(formatOf(doc, "L").fontStrikeOut());
    EXPECT_FALSE(formatOf(doc, "M").fontStrikeOut());
    EXPECT_EQ(formatOf(doc, "M").fontWeight(), QFont::Bold);
    EXPECT_EQ(formatOf(doc, "N").fontWeight(), QFont::Normal);
    EXPECT_TRUE(formatOf(doc, "O").fontItalic());
    EXPECT_FALSE(formatOf(doc, "P").fontItalic());
}

TEST(RtfReader, UnformattedTextKeepsTheDocumentsDefaultFont)
{
    QTextDocument doc;
    read("{\\rtf1 plain}", &doc);
    const QTextCharFormat format = formatOf(doc, "plain");
    EXPECT_FALSE(format.hasProperty(QTextFormat::FontFamilies));
    EXPECT_FALSE(format.hasProperty(QTextFormat::FontPointSize));
}

TEST(RtfReader, CodePageAndUnicodeCharacters)
{
    // Windows-1252 by default, also for the bytes Latin-1 leaves as controls.
    EXPECT_EQ(read("{\\rtf1\\ansi caf\\'e9 \\'80 \\'93q\\'94}"), QStringLiteral("café € “q”"));
    // \uN with its fallback skipped; negative numbers are the upper half.
    EXPECT_EQ(read("{\\rtf1 \\u8364?x}"), QStringLiteral("€x"));
    EXPECT_EQ(read("{\\rtf1 \\u8364\\'80x}"), QStringLiteral("€x"));
    EXPECT_EQ(read("{\\rtf1\\uc2 \\u8364 ??x}"), QStringLiteral("€x"));
    EXPECT_EQ(read("{\\rtf1\\uc0 \\u233 x}"), QStringLiteral("éx"));
    EXPECT_EQ(read("{\\rtf1 \\u-10179?\\u-8704?}"), QStringLiteral("\U0001F600"));
    EXPECT_EQ(read("{\\rtf1 \\u-3?}"), QString(QChar(0xFFFD)));
    // A group ends the fallback early; the \uc count belongs to the group.
    EXPECT_EQ(read("{\\rtf1 {\\uc3\\u233 a}b\\u233 cd}"), QStringLiteral("ébéd"));
    // Other code pages.
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1251 \\'c0\\'e1}"), QStringLiteral("Аб"));
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg99999 \\'e9}"), QStringLiteral("é")); // unknown: Western
    // Bytes above 127 written straight into the file count as code-page text too.
    EXPECT_EQ(read("{\\rtf1 na\xefve}"), QStringLiteral("naïve"));
}

TEST(RtfReader, EscapesAndSpecialCharacters)
{
    EXPECT_EQ(read("{\\rtf1 a\\\\b\\{c\\}d\\~e\\-f\\_g}"), QStringLiteral("a\\b{c}d\u00A0ef\u2011g"));
    EXPECT_EQ(read("{\\rtf1 \\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote}"),
              QStringLiteral("—–•‘’“”"));
    // A space after a control word ends it and is not text; a second one is.
    EXPECT_EQ(read("{\\rtf1 \\b  x}"), QStringLiteral(" x"));
    EXPECT_EQ(read("{\\rtf1 \\fs20x}"), QStringLiteral("x"));
}

TEST(RtfReader, DestinationsAreHiddenButFieldResultsAndListTextShow)
{
    const QByteArray rtf = "{\\rtf1{\\fonttbl{\\f0 Arial{\\*\\panose 0000}Hidden;}}"
                           "{\\colortbl;\\red1\\green2\\blue3;}{\\stylesheet{\\s1 Heading;}}"
                           "{\\info{\\title The title}{\\author Me}}{\\*\\generator Writer;}"
                           "{\\header page head}{\\footer page foot}"
                           "{\\pict\\wmetafile8 0102030405}{\\*\\unknowndest secret}"
                           "{\\object{\\*\\objdata 0a0b}{\\result}}"
                           "visible {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}} "
                           "{\\pntext 1.\\tab}{\\*\\pn\\pnlvlbody{\\pntxta .}}item "
                           "{\\v hidden text}shown \\bin6 {}}\\\\xend}";
    EXPECT_EQ(read(rtf), QStringLiteral("visible link 1.\titem shown end"));
}

TEST(RtfReader, SymbolFontBulletsShowAsBullets)
{
    QTextDocument doc;
    read("{\\rtf1{\\fonttbl{\\f0 Arial;}{\\f2\\fnil\\fcharset2 Symbol;}}\\f0 {\\pntext\\f2\\'b7\\tab}Item}", &doc);
    EXPECT_EQ(doc.toRawText(), QStringLiteral("•\tItem"));
    EXPECT_FALSE(formatOf(doc, "•").fontFamilies().toStringList().contains("Symbol"));
}

TEST(RtfReader, ParagraphAlignmentIndentsAndSpacing)
{
    QTextDocument doc;
    read("{\\rtf1\\pard\\qc centred\\par\\qr right\\par\\qj justified\\par"
         "\\pard\\li1500\\ri300\\fi-300\\sb150\\sa450 indented\\par\\pard plain\\par"
         "{\\qc\\li600 scoped\\par}after}",
         &doc);
    EXPECT_EQ(blockOf(doc, "centred").alignment(), Qt::AlignHCenter);
    EXPECT_EQ(blockOf(doc, "right").alignment(), Qt::AlignRight);
    EXPECT_EQ(blockOf(doc, "justified").alignment(), Qt::AlignJustify);
    const QTextBlockFormat indented = blockOf(doc, "indented");
    EXPECT_DOUBLE_EQ(indented.leftMargin(), 100.0);
    EXPECT_DOUBLE_EQ(indented.rightMargin(), 20.0);
    EXPECT_DOUBLE_EQ(indented.textIndent(), -20.0);
    EXPECT_DOUBLE_EQ(indented.topMargin(), 10.0);
    EXPECT_DOUBLE_EQ(indented.bottomMargin(), 30.0);
    EXPECT_EQ(blockOf(doc, "plain").alignment(), Qt::AlignLeft);
    EXPECT_DOUBLE_EQ(blockOf(doc, "plain").leftMargin(), 0.0);
    EXPECT_EQ(blockOf(doc, "scoped").alignment(), Qt::AlignHCenter);
    EXPECT_EQ(blockOf(doc, "after").alignment(), Qt::AlignLeft); // the group's settings ended with it
}

TEST(RtfReader, TextThatIsNotRichTextIsShownAsItIs)
{
    EXPECT_EQ(read("just text\r\nline 2"), QStringLiteral("just text\u2029line 2"));
    EXPECT_EQ(read("caf\xc3\xa9"), QStringLiteral("café"));
    EXPECT_EQ(read("caf\xe9"), QStringLiteral("café"));
    EXPECT_EQ(read(""), QString());
}

TEST(RtfReader, ReplacesWhatTheDocumentHeldBefore)
{
    QTextDocument doc;
    doc.setPlainText("old content");
    read("{\\rtf1 new}", &doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("new"));
}

TEST(RtfReader, DamagedDocumentsShowWhatCouldBeRead)
{
    // Missing closing braces: everything read so far is shown.
    EXPECT_EQ(read("{\\rtf1 {\\b bold {\\i more"), QStringLiteral("bold more"));
    // Extra closing braces: the document ends with its own group.
    EXPECT_EQ(read("{\\rtf1 a}} b}"), QStringLiteral("a"));
    EXPECT_EQ(read("{\\rtf1 a{}}}}{{{b"), QStringLiteral("a"));
    // Deep nesting beyond the group limit keeps its text and its balance.
    QByteArray deep = "{\\rtf1 ";
    deep += QByteArray(100000, '{') + "deep" + QByteArray(100000, '}') + "tail}";
    EXPECT_EQ(read(deep), QStringLiteral("deeptail"));
    EXPECT_EQ(read("{\\rtf1 " + QByteArray(100000, '{') + "open"), QStringLiteral("open"));
    // Huge parameters are clamped rather than overflowing.
    QTextDocument doc;
    read("{\\rtf1\\fs99999999999 big\\li-99999999999999 \\fi99999999999\\sb-5 x\\u99999999 "
         "\\cf99999999999 c\\f-99999999 f\\uc99999999 \\u65 y}",
         &doc);
    EXPECT_TRUE(doc.toPlainText().startsWith("bigx"));
    EXPECT_GT(formatOf(doc, "big").fontPointSize(), 0.0);
    // Raw data longer than the file, a lone backslash, an endless control word.
    EXPECT_EQ(read("{\\rtf1 a\\bin99999999 xyz"), QStringLiteral("a"));
    EXPECT_EQ(read("{\\rtf1 a\\"), QStringLiteral("a"));
    EXPECT_EQ(read("{\\rtf1 a\\" + QByteArray(100000, 'x') + " b}"), QStringLiteral("ab"));
    EXPECT_EQ(read("{\\rtf1 a\\'"), QStringLiteral("a"));
    EXPECT_EQ(read("{\\rtf1 a\\'4"), QStringLiteral("a")); // a control byte is no text
}

TEST(RtfReader, SurvivesEveryTruncationAndRandomBytes)
{
    const QByteArray small = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
                             "{\\colortbl ;\\red255\\green0\\blue0;}\\pard\\qc\\cf1\\b Title\\b0\\par"
                             "\\pard\\li400\\fi-200{\\pntext\\'b7\\tab}caf\\'e9 \\u8364? {\\field{\\*\\fldinst X}"
                             "{\\fldrslt y}}\\bin3 abc\\line end\\par}";
    for (qsizetype cut = 0; cut <= small.size(); ++cut) {
        QTextDocument doc;
        readRtf(small.left(cut), doc);
    }
    QTextDocument full;
    readRtf(small, full);
    EXPECT_TRUE(full.toPlainText().contains("Title"));

    std::mt19937 random(7);
    const QByteArray alphabet = "{}\\'abcdefuinprt0123456789- *;\n";
    for (int round = 0; round < 300; ++round) {
        QByteArray noise = "{\\rtf1 ";
        const int length = static_cast<int>(random() % 4000);
        for (int i = 0; i < length; ++i)
            noise += (round % 2) ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
        QTextDocument doc;
        readRtf(noise, doc);
        QByteArray binary(static_cast<qsizetype>(random() % 4000), '\0');
        for (char& c : binary)
            c = static_cast<char>(random() % 256);
        readRtf(binary, doc);
    }
}

TEST(RtfReader, ReadsTheShippedGuide)
{
    QFile file(QStringLiteral(TARNVEIL_SOURCE_DIR "/resources/help.rtf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QTextDocument doc;
    readRtf(file.readAll(), doc);
    const QString text = doc.toPlainText();

    EXPECT_TRUE(text.startsWith("Tarnveil\n"));
    for (const char* needed : {"No Log Selected", "Wave file does not exist or has been damaged",
                               "System Information Is Unavailable At This Time",
                               "Browse...", "Go To Time...", "does not answer", "MyPreferences",
                               "Play Last 5 Seconds", "Repeat", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"})
        EXPECT_TRUE(text.contains(QLatin1String(needed))) << needed;
    // Nothing of the markup or the hidden destinations reaches the reader.
    for (const char* leaked : {"\\par", "\\b", "fonttbl", "colortbl", "pnlvlblt", "Symbol;", "Courier New",
                               "Operator's Guide", "{", "}"})
        EXPECT_FALSE(text.contains(QLatin1String(leaked))) << leaked;
    EXPECT_TRUE(text.contains(QStringLiteral("•\tThe clock")));

    // Headings are bold and blue, body text neither.
    const QTextCharFormat heading = formatOf(doc, "What the console does");
    EXPECT_EQ(heading.fontWeight(), QFont::Bold);
    EXPECT_EQ(heading.foreground().color(), QColor(0, 0, 255));
    const QTextCharFormat body = formatOf(doc, "The logger records");
    EXPECT_EQ(body.fontWeight(), QFont::Normal);
    EXPECT_FALSE(body.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(blockOf(doc, "Operator's guide").alignment(), Qt::AlignHCenter);
}

} // namespace
} // namespace tarnveil
