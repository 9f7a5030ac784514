#include "ui/TfrmLog.h"

#include "ui/TFileDialog.h"
#include "ui/TFontDialog.h"
#include "ui/TInputBox.h"
#include "ui/TMessageBox.h"
#include "ui/UiTr.h"

#include "core/base/TextFile.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

namespace {

// The wait cursor for the length of a scope.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace

TfrmLog::TfrmLog(QWidget* parent)
    : QDialog(parent)
    , m_text(new QPlainTextEdit(this))
    , m_counterBar(new QWidget(this))
    , m_errorsLabel(new QLabel(m_counterBar))
    , m_warningsLabel(new QLabel(m_counterBar))
    , m_nextError(new QPushButton(m_counterBar))
    , m_nextWarning(new QPushButton(m_counterBar))
    , m_find(new QPushButton(this))
    , m_font(new QPushButton(this))
    , m_saveAs(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmLog"));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Read-only, yet the caret shows where "next" starts from.
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_errorsLabel->setStyleSheet(QStringLiteral("color: #FF0000; font-weight: bold;"));
    m_warningsLabel->setStyleSheet(QStringLiteral("color: #FFA500; font-weight: bold;"));
    m_nextError->setText(QStringLiteral(">"));
    m_nextWarning->setText(QStringLiteral(">"));
    m_nextError->setObjectName(QStringLiteral("btnNextError"));
    m_nextWarning->setObjectName(QStringLiteral("btnNextWarning"));

    auto* counters = new QHBoxLayout(m_counterBar);
    counters->setContentsMargins(0, 0, 0, 0);
    counters->addWidget(m_errorsLabel);
    counters->addWidget(m_nextError);
    counters->addSpacing(16);
    counters->addWidget(m_warningsLabel);
    counters->addWidget(m_nextWarning);
    auto* bar = new QHBoxLayout;
    bar->addWidget(m_counterBar);
    bar->addStretch(1);
    bar->addWidget(m_find);
    bar->addWidget(m_font);
    bar->addWidget(m_saveAs);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_text, 1);
    resize(900, 600);

    connect(m_nextError, &QPushButton::clicked, this, &TfrmLog::NextError);
    connect(m_nextWarning, &QPushButton::clicked, this, &TfrmLog::NextWarning);
    connect(m_find, &QPushButton::clicked, this, &TfrmLog::Find);
    connect(m_font, &QPushButton::clicked, this, &TfrmLog::ChooseFont);
    connect(m_saveAs, &QPushButton::clicked, this, &TfrmLog::SaveAs);
}

void TfrmLog::Retranslate() {
    m_errorsLabel->setText(Tr(u"Errors") + QStringLiteral(": ") + QString::number(m_errors));
    m_warningsLabel->setText(Tr(u"Warnings") + QStringLiteral(": ") + QString::number(m_warnings));
    m_find->setText(Tr(u"Find..."));
    m_font->setText(Tr(u"Font..."));
    m_saveAs->setText(Tr(u"Save As..."));
}

bool TfrmLog::Load(const QString& path, bool ShowErrorsWarningsControls) {
    TWaitCursor wait;
    QFile file(path);
    const bool read = file.open(QIODevice::ReadOnly);
    QByteArray bytes = read ? file.readAll() : QByteArray();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QString text = read ? QString::fromUtf8(bytes) : file.errorString();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // Every line ends with a line break; the last one opens no line of its own.
    if (text.endsWith(u'\n'))
        text.chop(1);
    m_text->setPlainText(text);
    m_logFileName = QFileInfo(path).fileName();

    const QString errorMarker = Tr(u"ERROR:");
    const QString warningMarker = Tr(u"WARNING:");
    m_errors = m_warnings = 0;
    for (QTextBlock block = m_text->document()->begin(); block.isValid(); block = block.next()) {
        const QString line = block.text();
        if (line.contains(errorMarker))
            ++m_errors;
        else if (line.contains(warningMarker))
            ++m_warnings;
    }

    QTextCursor start(m_text->document());
    start.movePosition(QTextCursor::Start);
    m_text->setTextCursor(start);
    m_text->ensureCursorVisible();

    m_nextError->setEnabled(m_errors > 0);
    m_nextWarning->setEnabled(m_warnings > 0);
    Retranslate();

    QString name = m_logFileName.left(qMax<qsizetype>(0, m_logFileName.size() - 4));
    if (ShowErrorsWarningsControls) {
        // A log is named after the moment its run began.
        name.replace(u';', u':');
        setWindowTitle(Tr(u"Log") + QStringLiteral(": ") + name);
    } else {
        setWindowTitle(Tr(u"History"));
    }
    m_counterBar->setVisible(ShowErrorsWarningsControls);
    return read;
}

void TfrmLog::OpenReport(const QString& path, bool ShowErrorsWarningsControls) {
    Load(path, ShowErrorsWarningsControls);
    exec();
}

int TfrmLog::CurrentLine() const {
    return m_text->textCursor().blockNumber();
}

bool TfrmLog::NextLineWith(const QString& marker, const QString& excluded) {
    TWaitCursor wait;
    QTextDocument* document = m_text->document();
    const int caretLine = CurrentLine();
    const int count = document->blockCount();
    auto matches = [&marker, &excluded](const QTextBlock& block) {
        const QString text = block.text();
        return text.contains(marker) && (excluded.isEmpty() || !text.contains(excluded));
    };
    auto select = [this](const QTextBlock& block) {
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        m_text->setTextCursor(cursor);
        m_text->ensureCursorVisible();
        return true;
    };
    for (int line = caretLine + 1; line < count; ++line)
        if (const QTextBlock block = document->findBlockByNumber(line); matches(block))
            return select(block);
    for (int line = 0; line <= caretLine && line < count; ++line)
        if (const QTextBlock block = document->findBlockByNumber(line); matches(block))
            return select(block);
    return false;
}

bool TfrmLog::NextError() {
    return NextLineWith(Tr(u"ERROR:"), QString());
}

bool TfrmLog::NextWarning() {
    // A line with both markers is counted as an error line, so it is no warning line to visit.
    return NextLineWith(Tr(u"WARNING:"), Tr(u"ERROR:"));
}

bool TfrmLog::FindFrom(const QString& text, int startLine) {
    QTextDocument* document = m_text->document();
    const int count = document->blockCount();
    for (int i = 0; i < count; ++i) {
        const QTextBlock block = document->findBlockByNumber((startLine + i) % count);
        const int at = int(block.text().indexOf(text, 0, Qt::CaseInsensitive));
        if (at >= 0) {
            QTextCursor cursor(block);
            cursor.setPosition(block.position() + at);
            cursor.setPosition(block.position() + at + int(text.size()), QTextCursor::KeepAnchor);
            m_text->setTextCursor(cursor);
            m_text->ensureCursorVisible();
            return true;
        }
    }
    return false;
}

void TfrmLog::Find() {
    QString text = m_lastSearch;
    if (!TInputBox::GetText(this, Tr(u"Find..."), Tr(u"Find what:"), text) || text.isEmpty())
        return;
    m_lastSearch = text;
    if (!FindFrom(text, CurrentLine() + 1))
        TMessageBox::Information(this, TrFormat(u"Cannot find \"%s\"", {text}));
}

void TfrmLog::ChooseFont() {
    QFont font = m_text->font();
    if (TFontDialog::GetFont(this, Tr(u"Font..."), font))
        m_text->setFont(font);
}

void TfrmLog::SaveAs() {
    const QString path = TFileDialog::GetSaveFileName(this, Tr(u"Save As..."), m_logFileName,
                                                      Tr(u"Text Files") + QStringLiteral(" (*.txt)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!WriteTextFileLines(path, m_text->toPlainText().split(u'\n'), 0644, &error))
        TMessageBox::Error(this, Tr(u"Unable to write the file:") + u' ' + path + QStringLiteral(" (") + error + u')');
}
