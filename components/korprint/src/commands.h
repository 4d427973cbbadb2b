#pragma once

// The print command language shared by the command file OVL.TMP and the overlay form.
//
// Every line is a two-letter code, a blank and fixed-width decimal operands; positions are in
// tenths of a column (x) or of a line (y) of the character grid set by "CR":
//
//     ST ppp ccc           paper code (11 = B4 landscape), copies
//     CR ccllf             characters per inch, lines per inch, font (3 = gothic)
//     PE                   starts a page
//     TE xxxxyyyyfshhhvvv<text>
//                          text at column x/10, line y/10; font f, style s (0 = upright),
//                          horizontal and vertical scale in percent; the text runs to the end of
//                          the line, blanks included
//     LN xxxxyyyyXXXXYYYYw ruled line from grid point (x, y) to (X, Y), weight w in 0.1 mm
//     BX xxxxyyyyXXXXYYYYw rectangle with corners (x, y) and (X, Y), weight w in 0.1 mm
//     RM <anything>        remark, ignored
//     ED                   end of the file
//
// ST, CR, PE and ED have no operands beyond the ones shown (trailing blanks are allowed).

#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QStringDecoder>

namespace korprint {

enum class CommandKind { Start, Setup, Page, Text, Line, Box, Remark, End };

struct Command {
    CommandKind kind = CommandKind::Remark;
    // Start: paper code and copies. Setup: characters and lines per inch, font.
    int paper = 0;
    int copies = 0;
    int cpi = 0;
    int lpi = 0;
    int font = 0;
    // Text, Line, Box: positions in tenths of a column / line (x2, y2 for Line and Box only).
    int x = 0;
    int y = 0;
    int x2 = 0;
    int y2 = 0;
    int weight = 0; // Line, Box: tenths of a millimetre
    int style = 0;  // Text: 0 = upright
    int hScale = 100;
    int vScale = 100;
    QString text;
};

// The only font of the grid: 3 = gothic.
inline constexpr int kGothicFont = 3;

// Parses one line without its line end. Returns an empty text on success, otherwise the reason
// (Japanese) why the line is not a command. An undecodable CP932 text is a failure.
QString parseCommand(QByteArrayView line, Command& out);

// Columns a text takes on the grid: one for an ASCII or half-width katakana character, two for
// any other (the characters that are two bytes in CP932).
int textColumns(QStringView text);
bool isHalfWidth(char16_t c);

// Streams the commands of a file one line at a time; empty lines are skipped.
class CommandReader {
public:
    enum class Next { Command, EndOfFile, Error };

    // Opens \p path for reading, never through a symbolic link (false for a link).
    bool open(const QString& path);
    // The device and inode of the open file: which file was read, whatever its name says now.
    quint64 device() const { return m_device; }
    quint64 inode() const { return m_inode; }
    // The open file is a plain file of this process's user.
    bool ownPlainFile() const { return m_own; }
    Next next(Command& out);
    int lineNumber() const { return m_line; }
    QString error() const { return m_error; }

private:
    QFile m_file;
    QByteArray m_buffer;
    int m_line = 0;
    QString m_error;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    bool m_own = false;
};

} // namespace korprint
