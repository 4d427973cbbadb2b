#include "printjob.h"

#include "korprint/korprint.h"
#include "pagerenderer.h"

#include <QDir>
#include <QFileInfo>
#include <QPagedPaintDevice>
#include <QPainter>

#include <optional>

using namespace Qt::StringLiterals;

namespace korprint {

namespace {

mox::Status malformed(const QString& path, int line, const QString& why)
{
    return mox::Status::failure(
        CommandFileMalformed,
        u"印刷ファイル %1 の %2 行目が正しくありません（%3）。"_s.arg(QFileInfo(path).fileName())
            .arg(line)
            .arg(why));
}

// The paper codes of the ST command.
struct Paper {
    int code;
    QPageSize::PageSizeId size;
    QPageLayout::Orientation orientation;
    const char16_t* name;
};

constexpr Paper kPapers[] = {
    {1, QPageSize::A4, QPageLayout::Portrait, u"A4 縦（210×297mm）"},
    {2, QPageSize::A4, QPageLayout::Landscape, u"A4 横（210×297mm）"},
    {3, QPageSize::A3, QPageLayout::Portrait, u"A3 縦（297×420mm）"},
    {4, QPageSize::A3, QPageLayout::Landscape, u"A3 横（297×420mm）"},
    {10, QPageSize::JisB4, QPageLayout::Portrait, u"B4 縦（JIS B4 257×364mm）"},
    {11, QPageSize::JisB4, QPageLayout::Landscape, u"B4 横（JIS B4 257×364mm）"},
};

const Paper* findPaper(int code)
{
    for (const Paper& p : kPapers) {
        if (p.code == code)
            return &p;
    }
    return nullptr;
}

} // namespace

bool paperFor(int code, QPageSize& size, QPageLayout::Orientation& orientation)
{
    const Paper* p = findPaper(code);
    if (!p)
        return false;
    size = QPageSize(p->size);
    orientation = p->orientation;
    return true;
}

QString paperName(int code)
{
    const Paper* p = findPaper(code);
    return p ? QString::fromUtf16(p->name) : QString();
}

QPageLayout pageLayoutFor(int paper)
{
    QPageSize size;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    paperFor(paper, size, orientation);
    return QPageLayout(size, orientation, QMarginsF(kMarginMm, kMarginMm, 0, 0),
                       QPageLayout::Millimeter);
}

mox::Result<JobSetup> checkCommandFile(const QString& path)
{
    CommandReader reader;
    if (!reader.open(path)) {
        return mox::Status::failure(
            CommandFileMissing,
            u"印刷ファイル %1 を開けません（ないか、シンボリックリンクです）。"_s.arg(
                QDir::toNativeSeparators(path)));
    }
    if (!reader.ownPlainFile()) {
        return mox::Status::failure(
            CommandFileMissing,
            u"印刷ファイル %1 はほかのユーザーのファイルか通常のファイルではないため使えません。"_s
                .arg(QDir::toNativeSeparators(path)));
    }
    JobSetup setup;
    setup.device = reader.device();
    setup.inode = reader.inode();
    bool started = false;
    bool ended = false;
    bool setUp = false;
    Command c;
    for (;;) {
        const CommandReader::Next n = reader.next(c);
        if (n == CommandReader::Next::EndOfFile)
            break;
        if (n == CommandReader::Next::Error)
            return malformed(path, reader.lineNumber(), reader.error());
        const int line = reader.lineNumber();
        if (ended)
            return malformed(path, line, u"終了行（ED）の後に行があります"_s);
        if (!started && c.kind != CommandKind::Start)
            return malformed(path, line, u"開始行（ST）がありません"_s);
        switch (c.kind) {
        case CommandKind::Start: {
            if (started)
                return malformed(path, line, u"開始行（ST）が二つあります"_s);
            QPageSize size;
            QPageLayout::Orientation orientation;
            if (!paperFor(c.paper, size, orientation))
                return malformed(path, line, u"用紙コード %1 は使えません"_s.arg(c.paper));
            started = true;
            setup.paper = c.paper;
            setup.copies = c.copies;
            break;
        }
        case CommandKind::Setup:
            if (setup.pages > 0)
                return malformed(path, line, u"ページの途中で書式（CR）は変えられません"_s);
            setUp = true;
            setup.cpi = c.cpi;
            setup.lpi = c.lpi;
            break;
        case CommandKind::Page:
            if (!setUp)
                return malformed(path, line, u"書式行（CR）がありません"_s);
            ++setup.pages;
            break;
        case CommandKind::Text:
        case CommandKind::Line:
        case CommandKind::Box:
            if (setup.pages == 0)
                return malformed(path, line, u"ページ行（PE）の前に印字があります"_s);
            break;
        case CommandKind::Remark:
            break;
        case CommandKind::End:
            ended = true;
            break;
        }
    }
    if (!ended)
        return malformed(path, reader.lineNumber(), u"終了行（ED）がありません"_s);
    if (setup.pages == 0) {
        return mox::Status::failure(
            CommandFileMalformed,
            u"印刷ファイル %1 に印刷するページがありません。"_s.arg(QFileInfo(path).fileName()));
    }
    return setup;
}

mox::Result<std::vector<Command>> loadOverlay(const QString& path)
{
    CommandReader reader;
    if (!reader.open(path)) {
        return mox::Status::failure(OverlayMissing, u"オーバレイファイル %1 を開けません。"_s.arg(
                                                        QDir::toNativeSeparators(path)));
    }
    std::vector<Command> commands;
    Command c;
    for (;;) {
        const CommandReader::Next n = reader.next(c);
        if (n == CommandReader::Next::EndOfFile)
            return commands;
        QString why = reader.error();
        if (n == CommandReader::Next::Command) {
            if (c.kind == CommandKind::Remark)
                continue;
            if (c.kind == CommandKind::Text || c.kind == CommandKind::Line ||
                c.kind == CommandKind::Box) {
                commands.push_back(std::move(c));
                continue;
            }
            why = u"オーバレイには TE、LN、BX、RM だけが書けます"_s;
        }
        return mox::Status::failure(OverlayMalformed,
                                    u"オーバレイファイル %1 の %2 行目が正しくありません（%3）。"_s
                                        .arg(QFileInfo(path).fileName())
                                        .arg(reader.lineNumber())
                                        .arg(why));
    }
}

mox::Status renderPages(const QString& commandFile, const std::vector<Command>& overlay,
                        const JobSetup& setup, QPagedPaintDevice& device,
                        const std::function<void(int page, int pages)>& pageDone)
{
    CommandReader reader;
    if (!reader.open(commandFile)) {
        return mox::Status::failure(CommandFileMissing, u"印刷ファイル %1 を開けません。"_s.arg(
                                                            QDir::toNativeSeparators(commandFile)));
    }
    if (setup.inode != 0 && (reader.device() != setup.device || reader.inode() != setup.inode)) {
        return mox::Status::failure(
            CommandFileMissing,
            u"印刷ファイル %1 が確認の後にほかのファイルに置き換えられたため、印刷しません。"_s.arg(
                QDir::toNativeSeparators(commandFile)));
    }
    PageRenderer renderer(setup.cpi, setup.lpi);
    QPainter painter;
    if (!painter.begin(&device))
        return mox::Status::failure(OutputFailed, u"印刷を始められません。"_s);
    // Drawing units are 1/720 inch whatever the resolution of the device.
    const double scaleX = device.logicalDpiX() / kUnitsPerInch;
    const double scaleY = device.logicalDpiY() / kUnitsPerInch;
    painter.setRenderHint(QPainter::Antialiasing);

    int page = 0;
    Command c;
    for (;;) {
        const CommandReader::Next n = reader.next(c);
        if (n == CommandReader::Next::EndOfFile || c.kind == CommandKind::End)
            break;
        if (n == CommandReader::Next::Error) {
            painter.end();
            return malformed(commandFile, reader.lineNumber(), reader.error());
        }
        if (c.kind == CommandKind::Page) {
            if (page > 0 && pageDone)
                pageDone(page, setup.pages);
            if (page > 0 && !device.newPage()) {
                painter.end();
                return mox::Status::failure(OutputFailed, u"新しいページを始められません。"_s);
            }
            ++page;
            painter.resetTransform();
            painter.scale(scaleX, scaleY);
            for (const Command& o : overlay)
                renderer.draw(painter, o);
        } else if (page > 0) {
            renderer.draw(painter, c);
        }
    }
    if (!painter.end())
        return mox::Status::failure(OutputFailed, u"印刷を終えられません。"_s);
    if (page > 0 && pageDone)
        pageDone(page, setup.pages);
    if (page != setup.pages)
        return malformed(commandFile, reader.lineNumber(), u"印刷中にファイルが変わりました"_s);
    return mox::Status::success();
}

} // namespace korprint
