#include "gui/platform/filedialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace pw {

namespace {

// Letters become [Aa] classes, so "*.BMP" also shows logo.bmp where the file system is
// case-sensitive.
QString caseless(const QString &pattern)
{
    QString out;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QLatin1Char('[') + c.toUpper() + c.toLower() + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

// Qt's save dialog asks before it replaces a file, but with No as the default button, while
// every confirmation of the program answers Yes to Enter. This dialog asks the same question
// itself, in Qt's own words (title, text, warning icon, buttons, as Qt's translation gives
// them), with Yes as the default; No returns to the dialog, as Qt's does.
class ReplaceConfirmingDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (acceptMode() != AcceptSave || testOption(DontConfirmOverwrite) || files.isEmpty()) {
            QFileDialog::accept();
            return;
        }
        // A folder (or "..") is entered by Qt's accept, as before.
        const QFileInfo target(files.constFirst());
        if (target.exists() && !target.isDir()) {
            QMessageBox box(QMessageBox::Warning, windowTitle(),
                            QFileDialog::tr("%1 already exists.\nDo you want to replace it?").arg(target.fileName()),
                            QMessageBox::Yes | QMessageBox::No, this);
            box.setDefaultButton(QMessageBox::Yes);
            if (box.exec() != QMessageBox::Yes)
                return;
        }
        // Asked already: Qt's own question must not follow.
        setOption(DontConfirmOverwrite, true);
        QFileDialog::accept();
        setOption(DontConfirmOverwrite, false);
    }
};

}  // namespace

QStringList SharedFileDialog::toNameFilters(const QString &filter, QStringList *labels)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << caseless(p.trimmed());
        result << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
        if (labels)
            *labels << parts[i];
    }
    return result;
}

FileDialogRequest SharedFileDialog::request(FileDialogRequest::Mode mode) const
{
    FileDialogRequest r;
    r.mode = mode;
    r.nameFilters = toNameFilters(filter_, &r.labels);
    // A name left by the previous use leads the dialog there; otherwise it opens in the
    // current directory, which the operations set to the program's folder.
    r.initialPath = fileName_.isEmpty() ? QDir::currentPath() : QFileInfo(fileName_).absoluteFilePath();
    r.confirmOverwrite = (flags_ & OverwritePrompt) != 0;
    r.filter = filterIndex_;
    return r;
}

bool SharedFileDialog::show(QWidget *parent, FileDialogRequest::Mode mode)
{
    int filter = filterIndex_;
    const std::optional<QString> chosen = backend_.run(parent, request(mode), &filter);
    if (!chosen)
        return false;
    fileName_ = *chosen;
    filterIndex_ = filter;
    return true;
}

bool SharedFileDialog::showOpen(QWidget *parent) { return show(parent, FileDialogRequest::Mode::Open); }

bool SharedFileDialog::showSave(QWidget *parent) { return show(parent, FileDialogRequest::Mode::Save); }

std::optional<QString> QtFileDialogBackend::run(QWidget *parent, const FileDialogRequest &request, int *chosenFilter)
{
    ReplaceConfirmingDialog dialog(parent);
    // Qt's own dialog on every platform: it understands the [Aa] classes of the translated
    // patterns (native dialogs on Windows and macOS would take them literally and list nothing).
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    const bool save = request.mode == FileDialogRequest::Mode::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The labels already name their pattern; Qt's own pattern text would repeat it.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    dialog.setNameFilters(request.nameFilters);
    if (request.filter > 0 && request.filter < request.nameFilters.size())
        dialog.selectNameFilter(request.nameFilters[request.filter]);
    const QFileInfo start(request.initialPath);
    if (start.isDir()) {
        dialog.setDirectory(start.absoluteFilePath());
    } else {
        dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    if (chosenFilter) {
        // The filter as given, or (where the dialog hides the patterns) only its label.
        const QString selected = dialog.selectedNameFilter();
        *chosenFilter = 0;
        for (qsizetype i = 0; i < request.nameFilters.size(); ++i)
            if (request.nameFilters[i] == selected || request.labels.value(i) == selected)
                *chosenFilter = int(i);
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace pw
