#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>

namespace pw {

// What one showing of the file dialog asks for, already in Qt's terms.
struct FileDialogRequest {
    enum class Mode { Open, Save } mode = Mode::Open;
    QStringList nameFilters;   // "label (patterns)" entries for Qt
    QStringList labels;        // the labels as the program wrote them
    QString initialPath;       // folder or file the dialog starts from
    bool confirmOverwrite = false;
    int filter = 0;            // the entry of nameFilters chosen at first
};

// Shows the platform's dialog; nullopt when the user cancels. `chosenFilter`, when given,
// receives the index of the file type the user chose.
class FileDialogBackend {
public:
    virtual ~FileDialogBackend() = default;
    virtual std::optional<QString> run(QWidget *parent, const FileDialogRequest &request, int *chosenFilter = nullptr) = 0;
};

// Qt's own dialog. A save that would replace a file asks first, with Yes as the default.
class QtFileDialogBackend final : public FileDialogBackend {
public:
    std::optional<QString> run(QWidget *parent, const FileDialogRequest &request, int *chosenFilter = nullptr) override;
};

// The program's one file dialog, shared by every open and save: filter, flags and file name
// stay set between uses, so each operation sets only what it needs.
class SharedFileDialog {
public:
    static constexpr int OverwritePrompt = 2;
    static constexpr int HideReadOnly = 4;

    explicit SharedFileDialog(FileDialogBackend &backend) : backend_(backend) {}

    // "label|pattern|label|pattern…"; patterns may list several with ';'. A new filter starts
    // at its first entry.
    void setFilter(const QString &filter)
    {
        filter_ = filter;
        filterIndex_ = 0;
    }
    QString filter() const { return filter_; }
    // The entry of the filter chosen at first, and after a show the one the user chose.
    void setFilterIndex(int index) { filterIndex_ = index; }
    int filterIndex() const { return filterIndex_; }
    void setFlags(int flags) { flags_ = flags; }
    int flags() const { return flags_; }
    void setFileName(const QString &name) { fileName_ = name; }
    QString fileName() const { return fileName_; }

    // True with fileName() set to the chosen full path; false when cancelled.
    bool showOpen(QWidget *parent);
    bool showSave(QWidget *parent);

    // The request that the next show would make (the dialog's translation of its state).
    FileDialogRequest request(FileDialogRequest::Mode mode) const;

    // "PIcture(*.BMP)|*.BMP" → {"PIcture(*.BMP) (*.[Bb][Mm][Pp])"}: patterns match any case.
    static QStringList toNameFilters(const QString &filter, QStringList *labels = nullptr);

private:
    bool show(QWidget *parent, FileDialogRequest::Mode mode);

    FileDialogBackend &backend_;
    QString filter_;
    int filterIndex_ = 0;
    int flags_ = 0;
    QString fileName_;
};

}  // namespace pw
