// The settings file is read at every start and may hold anything: a huge file, an unclosed
// quote, binary junk. Only its first kSettingsReadLimit bytes may count, at most two values
// come back, and plain values survive being written back and read again.

#include "core/storage/settingsfile.h"
#include "fuzzinput.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    pw::fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = pw::fuzz::writeInput(data, size);
    const QStringList values = pw::readSettingsValues(path);
    FUZZ_CHECK(values.size() <= 2);
    // Each byte of the prefix gives at most one UTF-16 unit, so a longer value means the
    // reader went past the prefix.
    for (const QString &value : values)
        FUZZ_CHECK(value.size() <= pw::kSettingsReadLimit);

    if (values.size() != 2)
        return 0;
    for (const QString &value : values) {
        // The record has no escapes: these cannot be written back faithfully.
        for (QChar c : {QChar(u'"'), QChar(u','), QChar(u'\r'), QChar(u'\n')})
            if (value.contains(c))
                return 0;
    }
    FUZZ_CHECK(pw::parseSettingsValues(pw::formatSettingsRecord(values[0], values[1])) == values);
    return 0;
}
