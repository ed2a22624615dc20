#include "windows/rtf_reader.h"
#include "platform/hex_digit.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnveil {

namespace {

// Bounds that keep any input, however damaged, linear in time and small in memory.
constexpr int MaxGroupDepth = 1000;
constexpr int MaxControlWordLength = 32;
constexpr int64_t ParameterLimit = 2'000'000'000;
constexpr int MaxFontNameLength = 256;
constexpr int TwipsPerPixel = 15; // 96 dpi
constexpr int MaxIndentTwips = 31680; // 22 inches

// Windows-1252 differs from Latin-1 only in 0x80-0x9F; the five unassigned bytes
// keep their Latin-1 value. Kept here so the default code page never depends on
// which converters the Qt build carries.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QChar cp1252(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return QChar(Cp1252High[byte - 0x80]);
    return QChar(byte);
}

QString decodeCp1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char b : bytes)
        text += cp1252(static_cast<unsigned char>(b));
    return text;
}

QByteArray codecNameFor(int codePage)
{
    switch (codePage) {
    case 437: return "IBM437";
    case 850: return "IBM850";
    case 10000: return "macintosh";
    case 65001: return "UTF-8";
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 950: return "Big5";
    default: return "windows-" + QByteArray::number(codePage);
    }
}

// Bullets and the like in symbol fonts, shown in an ordinary face.
QChar symbolFontChar(unsigned char byte)
{
    switch (byte) {
    case 0xB7: return QChar(0x2022); // Symbol's bullet
    case 0xA7: return QChar(0x25AA); // Wingdings' small square
    case 0xD8: return QChar(0x27A2); // Wingdings' arrowhead
    case 0xFC: return QChar(0x2713); // Wingdings' tick
    default: return cp1252(byte);
    }
}

enum class Destination : uint8_t { Text, Skip, FontTable, ColorTable };

struct CharState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    int8_t vertical = 0; // 1 superscript, -1 subscript
    int font = -1; // -1: the document's default font (\deff)
    int halfPoints = 0; // 0: the default size
    int foreground = 0; // colour table index, 0 = automatic
    int background = 0;
    bool operator==(const CharState&) const = default;
};

struct ParaState {
    Qt::Alignment alignment = Qt::AlignLeft;
    int leftTwips = 0;
    int rightTwips = 0;
    int firstTwips = 0;
    int beforeTwips = 0;
    int afterTwips = 0;
};

struct Group {
    Destination destination = Destination::Text;
    CharState chars;
    ParaState para;
    int unicodeSkip = 1; // \ucN: fallback characters that follow each \uN
};

struct FontEntry {
    QString name;
    QFont::StyleHint hint = QFont::AnyStyle;
    bool symbol = false;
};

enum class Word {
    Unknown, Rtf, Ansi, AnsiCodePage, Mac, Pc, Pca, DefaultFont, FontTable, ColorTable, SkipDestination,
    Font, FontFamilyRoman, FontFamilySwiss, FontFamilyModern, FontFamilyScript, FontFamilyDecor,
    FontFamilyTech, FontCharset, Red, Green, Blue, Par, Line, Tab, Page, Row, Cell, Pard, Plain, Bold,
    Italic, Underline, UnderlineNone, Strike, Hidden, Super, Sub, NoSuperSub, FontSize, ForeColor,
    BackColor, AlignLeft, AlignCenter, AlignRight, AlignJustify, LeftIndent, RightIndent, FirstIndent,
    SpaceBefore, SpaceAfter, Unicode, UnicodeSkip, Binary, Character,
};

struct WordInfo {
    Word word;
    char16_t character = 0; // for Word::Character
};

const std::unordered_map<std::string_view, WordInfo>& wordTable()
{
    static const std::unordered_map<std::string_view, WordInfo> table = [] {
        std::unordered_map<std::string_view, WordInfo> t = {
            {"rtf", {Word::Rtf}}, {"ansi", {Word::Ansi}}, {"ansicpg", {Word::AnsiCodePage}},
            {"mac", {Word::Mac}}, {"pc", {Word::Pc}}, {"pca", {Word::Pca}}, {"deff", {Word::DefaultFont}},
            {"fonttbl", {Word::FontTable}}, {"colortbl", {Word::ColorTable}}, {"f", {Word::Font}},
            {"froman", {Word::FontFamilyRoman}}, {"fswiss", {Word::FontFamilySwiss}},
            {"fmodern", {Word::FontFamilyModern}}, {"fscript", {Word::FontFamilyScript}},
            {"fdecor", {Word::FontFamilyDecor}}, {"ftech", {Word::FontFamilyTech}},
            {"fcharset", {Word::FontCharset}}, {"red", {Word::Red}}, {"green", {Word::Green}},
            {"blue", {Word::Blue}}, {"par", {Word::Par}}, {"sect", {Word::Par}}, {"line", {Word::Line}},
            {"tab", {Word::Tab}}, {"page", {Word::Page}}, {"row", {Word::Row}}, {"cell", {Word::Cell}},
            {"pard", {Word::Pard}}, {"plain", {Word::Plain}}, {"b", {Word::Bold}}, {"i", {Word::Italic}},
            {"ul", {Word::Underline}}, {"uld", {Word::Underline}}, {"uldb", {Word::Underline}},
            {"ulw", {Word::Underline}}, {"ulth", {Word::Underline}}, {"ulwave", {Word::Underline}},
            {"uldash", {Word::Underline}}, {"ulnone", {Word::UnderlineNone}}, {"strike", {Word::Strike}},
            {"striked", {Word::Strike}}, {"v", {Word::Hidden}}, {"super", {Word::Super}},
            {"sub", {Word::Sub}}, {"nosupersub", {Word::NoSuperSub}}, {"fs", {Word::FontSize}},
            {"cf", {Word::ForeColor}}, {"cb", {Word::BackColor}}, {"highlight", {Word::BackColor}},
            {"ql", {Word::AlignLeft}}, {"qc", {Word::AlignCenter}}, {"qr", {Word::AlignRight}},
            {"qj", {Word::AlignJustify}}, {"li", {Word::LeftIndent}}, {"ri", {Word::RightIndent}},
            {"fi", {Word::FirstIndent}}, {"sb", {Word::SpaceBefore}}, {"sa", {Word::SpaceAfter}},
            {"u", {Word::Unicode}}, {"uc", {Word::UnicodeSkip}}, {"bin", {Word::Binary}},
            {"emdash", {Word::Character, 0x2014}}, {"endash", {Word::Character, 0x2013}},
            {"emspace", {Word::Character, 0x2003}}, {"enspace", {Word::Character, 0x2002}},
            {"qmspace", {Word::Character, 0x2005}}, {"bullet", {Word::Character, 0x2022}},
            {"lquote", {Word::Character, 0x2018}}, {"rquote", {Word::Character, 0x2019}},
            {"ldblquote", {Word::Character, 0x201C}}, {"rdblquote", {Word::Character, 0x201D}},
            {"zwj", {Word::Character, 0x200D}}, {"zwnj", {Word::Character, 0x200C}},
            {"zwbo", {Word::Character, 0x200B}},
        };
        // Destinations whose text is never shown.
        for (std::string_view name :
             {"stylesheet", "info", "pict", "object", "objdata", "header", "headerl", "headerr", "headerf",
              "footer", "footerl", "footerr", "footerf", "fldinst", "themedata", "colorschememapping",
              "latentstyles", "datastore", "xmlnstbl", "listtable", "listoverridetable", "rsidtbl",
              "generator", "pn", "pntxta", "pntxtb", "filetbl", "revtbl", "footnote", "annotation",
              "atnid", "atnauthor", "private", "userprops", "nonshppict", "shppict", "shp", "shpinst",
              "xe", "tc", "txe", "bkmkstart", "bkmkend", "mmathPr", "pgdsctbl", "docvar", "template",
              "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn", "fchars", "lchars",
              "wgrffmtfilter", "passwordhash", "protusertbl", "panose", "falt"})
            t.emplace(name, WordInfo{Word::SkipDestination});
        return t;
    }();
    return table;
}

class RtfReader {
public:
    RtfReader(const QByteArray& input, QTextDocument& document)
        : data_(input.constData()), size_(input.size()), cursor_(&document)
    {
        groups_.push_back(Group{}); // the state outside every group
    }

    void run()
    {
        while (pos_ < size_ && !finished_) {
            const char c = data_[pos_++];
            switch (c) {
            case '{': openGroup(); break;
            case '}': closeGroup(); break;
            case '\\': controlSequence(); break;
            case '\r':
            case '\n': break;
            default: literal(static_cast<unsigned char>(c)); break;
            }
        }
        if (!finished_)
            finishDocument(); // truncated: keep what was read
    }

private:
    Group& top() { return groups_.back(); }

    void openGroup()
    {
        if (static_cast<int>(groups_.size()) > MaxGroupDepth) {
            ++overflowDepth_; // braces are still counted so they balance
            return;
        }
        groups_.push_back(groups_.back());
        skipFallback_ = 0;
    }

    void closeGroup()
    {
        skipFallback_ = 0;
        if (overflowDepth_ > 0) {
            --overflowDepth_;
            return;
        }
        if (groups_.size() <= 1)
            return; // a stray brace outside the document
        if (top().destination == Destination::FontTable)
            commitFont();
        if (groups_.size() == 2) {
            finishDocument(); // the document's own group closes; what follows is not part of it
            return;
        }
        const Destination closing = top().destination;
        groups_.pop_back();
        // A group inside the colour table that held a colour ends it, lenient to writers
        // that omit the ';'.
        if (closing == Destination::ColorTable && top().destination == Destination::ColorTable && colourStarted_)
            commitColour();
    }

    void controlSequence()
    {
        if (pos_ >= size_)
            return; // a lone backslash at the end of a truncated file
        const char c = data_[pos_];
        if (!isLetter(c)) {
            ++pos_;
            controlSymbol(c);
            return;
        }
        const qsizetype start = pos_;
        while (pos_ < size_ && isLetter(data_[pos_]))
            ++pos_;
        const std::string_view name(data_ + start, static_cast<std::size_t>(pos_ - start));

        bool hasParameter = false;
        int64_t parameter = 0;
        bool negative = false;
        if (pos_ + 1 < size_ && data_[pos_] == '-' && isDigit(data_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        while (pos_ < size_ && isDigit(data_[pos_])) {
            hasParameter = true;
            parameter = std::min<int64_t>(parameter * 10 + (data_[pos_] - '0'), ParameterLimit);
            ++pos_;
        }
        if (negative)
            parameter = -parameter;
        if (pos_ < size_ && data_[pos_] == ' ')
            ++pos_;

        if (name.size() > static_cast<std::size_t>(MaxControlWordLength))
            return; // not a word any writer produces
        controlWord(name, hasParameter, static_cast<int>(parameter));
    }

    void controlSymbol(char c)
    {
        if (c == '\'') {
            int value = 0;
            int digits = 0;
            while (digits < 2 && pos_ < size_ && hexDigit(data_[pos_]) >= 0) {
                value = value * 16 + hexDigit(data_[pos_]);
                ++pos_;
                ++digits;
            }
            if (digits == 0)
                return;
            if (skipFallback_ > 0) {
                --skipFallback_;
                return;
            }
            ansiByte(static_cast<unsigned char>(value));
            return;
        }
        if (skipFallback_ > 0) {
            --skipFallback_;
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}': ansiByte(static_cast<unsigned char>(c)); break;
        case '~': unicodeText(QString(QChar(0x00A0))); break;
        case '_': unicodeText(QString(QChar(0x2011))); break;
        case '-': break; // optional hyphen: no hyphenation here
        case '*': top().destination = Destination::Skip; break;
        case '\r':
        case '\n': paragraph(); break; // a backslash before a line end is \par
        case '\t': unicodeText(QStringLiteral("\t")); break;
        default: break; // \: \| and unknown symbols
        }
    }

    void controlWord(std::string_view name, bool hasParameter, int parameter)
    {
        const auto& table = wordTable();
        const auto found = table.find(name);
        const WordInfo info = found == table.end() ? WordInfo{Word::Unknown} : found->second;

        if (skipFallback_ > 0 && info.word != Word::Binary) {
            --skipFallback_;
            return;
        }

        Group& g = top();
        CharState& ch = g.chars;
        ParaState& para = g.para;
        const bool on = !hasParameter || parameter != 0;
        switch (info.word) {
        case Word::Unknown:
        case Word::Rtf:
        case Word::Ansi: break;
        case Word::AnsiCodePage: setCodePage(parameter); break;
        case Word::Mac: setCodePage(10000); break;
        case Word::Pc: setCodePage(437); break;
        case Word::Pca: setCodePage(850); break;
        case Word::DefaultFont: defaultFont_ = parameter; break;
        case Word::FontTable: g.destination = Destination::FontTable; break;
        case Word::ColorTable:
            g.destination = Destination::ColorTable;
            colourStarted_ = false;
            red_ = green_ = blue_ = 0;
            break;
        case Word::SkipDestination: g.destination = Destination::Skip; break;
        case Word::Font:
            if (g.destination == Destination::FontTable) {
                commitFont();
                fontEntryOpen_ = true;
                fontIndex_ = parameter;
                fontEntry_ = FontEntry{};
            } else {
                ch.font = parameter;
            }
            break;
        case Word::FontFamilyRoman: fontEntry_.hint = QFont::Serif; break;
        case Word::FontFamilySwiss: fontEntry_.hint = QFont::SansSerif; break;
        case Word::FontFamilyModern: fontEntry_.hint = QFont::TypeWriter; break;
        case Word::FontFamilyScript: fontEntry_.hint = QFont::Cursive; break;
        case Word::FontFamilyDecor: fontEntry_.hint = QFont::Decorative; break;
        case Word::FontFamilyTech: fontEntry_.symbol = true; break;
        case Word::FontCharset:
            if (g.destination == Destination::FontTable && parameter == 2)
                fontEntry_.symbol = true;
            break;
        case Word::Red: red_ = std::clamp(parameter, 0, 255); colourStarted_ = true; break;
        case Word::Green: green_ = std::clamp(parameter, 0, 255); colourStarted_ = true; break;
        case Word::Blue: blue_ = std::clamp(parameter, 0, 255); colourStarted_ = true; break;
        case Word::Par:
        case Word::Page:
        case Word::Row: paragraph(); break;
        case Word::Line: unicodeText(QString(QChar::LineSeparator)); break;
        case Word::Tab:
        case Word::Cell: unicodeText(QStringLiteral("\t")); break;
        case Word::Pard: para = ParaState{}; break;
        case Word::Plain: ch = CharState{}; break;
        case Word::Bold: ch.bold = on; break;
        case Word::Italic: ch.italic = on; break;
        case Word::Underline: ch.underline = on; break;
        case Word::UnderlineNone: ch.underline = false; break;
        case Word::Strike: ch.strike = on; break;
        case Word::Hidden: ch.hidden = on; break;
        case Word::Super: ch.vertical = 1; break;
        case Word::Sub: ch.vertical = -1; break;
        case Word::NoSuperSub: ch.vertical = 0; break;
        case Word::FontSize: ch.halfPoints = hasParameter && parameter > 0 ? std::clamp(parameter, 2, 3276) : 0; break;
        case Word::ForeColor: ch.foreground = std::max(parameter, 0); break;
        case Word::BackColor: ch.background = std::max(parameter, 0); break;
        case Word::AlignLeft: para.alignment = Qt::AlignLeft; break;
        case Word::AlignCenter: para.alignment = Qt::AlignHCenter; break;
        case Word::AlignRight: para.alignment = Qt::AlignRight; break;
        case Word::AlignJustify: para.alignment = Qt::AlignJustify; break;
        case Word::LeftIndent: para.leftTwips = clampTwips(parameter); break;
        case Word::RightIndent: para.rightTwips = clampTwips(parameter); break;
        case Word::FirstIndent: para.firstTwips = clampTwips(parameter); break;
        case Word::SpaceBefore: para.beforeTwips = std::clamp(parameter, 0, MaxIndentTwips); break;
        case Word::SpaceAfter: para.afterTwips = std::clamp(parameter, 0, MaxIndentTwips); break;
        case Word::Unicode: {
            int code = parameter;
            if (code < 0)
                code += 65536;
            unicodeText(code >= 0 && code <= 0xFFFF ? QString(QChar(static_cast<char16_t>(code)))
                                                    : QString(QChar(QChar::ReplacementCharacter)));
            skipFallback_ = g.unicodeSkip;
            break;
        }
        case Word::UnicodeSkip: g.unicodeSkip = std::clamp(parameter, 0, 16); break;
        case Word::Binary: {
            // Raw bytes follow; they are data, never text.
            const qsizetype count = std::clamp<qsizetype>(parameter, 0, size_ - pos_);
            pos_ += count;
            break;
        }
        case Word::Character: unicodeText(QString(QChar(info.character))); break;
        }
    }

    void literal(unsigned char c)
    {
        if (skipFallback_ > 0) {
            --skipFallback_;
            return;
        }
        if (c == '\t') {
            unicodeText(QStringLiteral("\t"));
            return;
        }
        if (c < 0x20)
            return; // stray control bytes are not text
        ansiByte(c);
    }

    // A byte in the document's code page.
    void ansiByte(unsigned char c)
    {
        Group& g = top();
        switch (g.destination) {
        case Destination::Skip: return;
        case Destination::ColorTable:
            if (c == ';')
                commitColour();
            return;
        case Destination::FontTable:
            if (c == ';') {
                commitFont();
            } else if (fontEntryOpen_ && fontEntry_.name.size() < MaxFontNameLength) {
                fontEntry_.name += cp1252(c);
            }
            return;
        case Destination::Text: break;
        }
        if (g.chars.hidden)
            return;
        if (symbolFont(g.chars)) {
            unicodeText(QString(symbolFontChar(c)));
            return;
        }
        prepareText();
        pendingBytes_ += static_cast<char>(c);
    }

    void unicodeText(const QString& text)
    {
        Group& g = top();
        if (g.destination == Destination::FontTable && fontEntryOpen_) {
            if (fontEntry_.name.size() < MaxFontNameLength)
                fontEntry_.name += text;
            return;
        }
        if (g.destination != Destination::Text || g.chars.hidden)
            return;
        prepareText();
        decodePendingBytes();
        pendingText_ += text;
    }

    // Text is gathered while the character formatting stays the same.
    void prepareText()
    {
        if (pendingText_.isEmpty() && pendingBytes_.isEmpty()) {
            pendingChars_ = top().chars;
            return;
        }
        if (!(pendingChars_ == top().chars)) {
            flushText();
            pendingChars_ = top().chars;
        }
    }

    void decodePendingBytes()
    {
        if (pendingBytes_.isEmpty())
            return;
        QString text = decoder_ ? decoder_->decode(pendingBytes_) : decodeCp1252(pendingBytes_);
        pendingBytes_.clear();
        for (QChar c : std::as_const(text)) {
            if (c.unicode() >= 0x20 || c == QLatin1Char('\t'))
                pendingText_ += c;
        }
    }

    void flushText()
    {
        decodePendingBytes();
        if (pendingText_.isEmpty())
            return;
        cursor_.insertText(withoutLoneSurrogates(pendingText_), formatFor(pendingChars_));
        pendingText_.clear();
    }

    static QString withoutLoneSurrogates(const QString& text)
    {
        QString out;
        out.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                out += c;
                out += text.at(++i);
            } else if (c.isSurrogate()) {
                out += QChar(QChar::ReplacementCharacter);
            } else {
                out += c;
            }
        }
        return out;
    }

    void paragraph()
    {
        if (top().destination != Destination::Text)
            return;
        flushText();
        applyParagraphFormat();
        cursor_.insertBlock(cursor_.blockFormat(), formatFor(top().chars));
    }

    void finishDocument()
    {
        flushText();
        applyParagraphFormat();
        finished_ = true;
    }

    void applyParagraphFormat()
    {
        const ParaState& para = top().para;
        QTextBlockFormat format;
        format.setAlignment(para.alignment);
        format.setLeftMargin(static_cast<double>(para.leftTwips) / TwipsPerPixel);
        format.setRightMargin(static_cast<double>(para.rightTwips) / TwipsPerPixel);
        format.setTextIndent(static_cast<double>(para.firstTwips) / TwipsPerPixel);
        format.setTopMargin(static_cast<double>(para.beforeTwips) / TwipsPerPixel);
        format.setBottomMargin(static_cast<double>(para.afterTwips) / TwipsPerPixel);
        // A hanging first line (a bullet or number) has its tab stop where the
        // following lines begin.
        if (para.firstTwips < 0)
            format.setTabPositions({QTextOption::Tab(-static_cast<double>(para.firstTwips) / TwipsPerPixel,
                                                     QTextOption::LeftTab)});
        cursor_.setBlockFormat(format);
    }

    QTextCharFormat formatFor(const CharState& s) const
    {
        QTextCharFormat format;
        format.setFontWeight(s.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(s.italic);
        format.setFontUnderline(s.underline);
        format.setFontStrikeOut(s.strike);
        if (s.vertical > 0)
            format.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
        else if (s.vertical < 0)
            format.setVerticalAlignment(QTextCharFormat::AlignSubScript);
        if (const FontEntry* font = fontOf(s); font && !font->symbol && !font->name.isEmpty()) {
            format.setFontFamilies(QStringList{font->name});
            format.setFontStyleHint(font->hint);
        }
        if (s.halfPoints > 0)
            format.setFontPointSize(s.halfPoints / 2.0);
        if (s.foreground > 0 && s.foreground < colours_.size() && colours_[s.foreground].isValid())
            format.setForeground(colours_[s.foreground]);
        if (s.background > 0 && s.background < colours_.size() && colours_[s.background].isValid())
            format.setBackground(colours_[s.background]);
        return format;
    }

    const FontEntry* fontOf(const CharState& s) const
    {
        const auto it = fonts_.constFind(s.font >= 0 ? s.font : defaultFont_);
        return it == fonts_.constEnd() ? nullptr : &it.value();
    }

    bool symbolFont(const CharState& s) const
    {
        const FontEntry* font = fontOf(s);
        return font && font->symbol;
    }

    void commitFont()
    {
        if (!fontEntryOpen_)
            return;
        fontEntryOpen_ = false;
        fontEntry_.name = fontEntry_.name.trimmed();
        if (!fonts_.contains(fontIndex_))
            fonts_.insert(fontIndex_, fontEntry_);
    }

    void commitColour()
    {
        colours_.append(colourStarted_ ? QColor(red_, green_, blue_) : QColor());
        colourStarted_ = false;
        red_ = green_ = blue_ = 0;
    }

    void setCodePage(int codePage)
    {
        if (codePage == 1252 || codePage <= 0) {
            decoder_.reset();
            return;
        }
        decoder_.emplace(codecNameFor(codePage).constData());
        if (!decoder_->isValid())
            decoder_.reset(); // unknown code page: read it as the Western one
    }

    static int clampTwips(int twips) { return std::clamp(twips, -MaxIndentTwips, MaxIndentTwips); }
    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    const char* data_;
    qsizetype size_;
    qsizetype pos_ = 0;
    QTextCursor cursor_;
    bool finished_ = false;

    std::vector<Group> groups_;
    int overflowDepth_ = 0;
    int skipFallback_ = 0;

    std::optional<QStringDecoder> decoder_; // empty: Windows-1252
    int defaultFont_ = -1;
    QHash<int, FontEntry> fonts_;
    bool fontEntryOpen_ = false;
    int fontIndex_ = 0;
    FontEntry fontEntry_;
    QList<QColor> colours_;
    bool colourStarted_ = false;
    int red_ = 0;
    int green_ = 0;
    int blue_ = 0;

    CharState pendingChars_;
    QByteArray pendingBytes_;
    QString pendingText_;
};

bool looksLikeRtf(const QByteArray& data)
{
    qsizetype i = 0;
    if (data.startsWith("\xEF\xBB\xBF"))
        i = 3;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    return data.mid(i, 5) == "{\\rtf";
}

// A file that is not rich text is shown as it is, as the rich-text box always did.
QString plainTextOf(const QByteArray& data)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(data);
    if (utf8.hasError())
        text = decodeCp1252(data);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QString out;
    out.reserve(text.size());
    for (QChar c : std::as_const(text)) {
        if (c.unicode() >= 0x20 || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            out += c;
    }
    return out;
}

} // namespace

void readRtf(const QByteArray& rtf, QTextDocument& into)
{
    const bool undo = into.isUndoRedoEnabled();
    into.setUndoRedoEnabled(false);
    into.clear();
    if (looksLikeRtf(rtf)) {
        QTextCursor edit(&into);
        edit.beginEditBlock();
        RtfReader(rtf, into).run();
        edit.endEditBlock();
    } else {
        into.setPlainText(plainTextOf(rtf));
    }
    into.setUndoRedoEnabled(undo);
}

} // namespace tarnveil
