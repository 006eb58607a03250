#include "tst_link.h"

#include <QApplication>
#include <QMetaMethod>
#include <QtTest>

namespace {

bool hasTestFunction(const QObject &test, const QByteArray &name)
{
    const QMetaObject *meta = test.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        if (meta->method(i).name() == name)
            return true;
    return false;
}

// Runs one test class with the options and those of the named functions that belong to it;
// a class none of the named functions belongs to is skipped.
int run(QObject &test, const QStringList &arguments)
{
    QStringList mine = {arguments.first()};
    bool named = false;
    bool matched = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (arg.startsWith(QLatin1Char('-'))) {
            mine << arg;
            // Options with a value: keep the value with them.
            static const QStringList withValue = {"-o", "-maxwarnings", "-eventdelay", "-keydelay", "-mousedelay", "-seed"};
            if (withValue.contains(arg) && i + 1 < arguments.size())
                mine << arguments[++i];
            continue;
        }
        named = true;
        if (hasTestFunction(test, arg.section(QLatin1Char(':'), 0, 0).toLatin1())) {
            mine << arg;
            matched = true;
        }
    }
    if (named && !matched)
        return 0;
    return QTest::qExec(&test, mine);
}

}  // namespace

// All test classes of the device link in one executable: tst_link [options] [function[:tag] ...]
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    int status = 0;
    {
        TstTransfer test;
        status |= run(test, arguments);
    }
    {
        TstTransferWindow test;
        status |= run(test, arguments);
    }
    {
        TstConsole test;
        status |= run(test, arguments);
    }
    {
        TstSerialBackend test;
        status |= run(test, arguments);
    }
    return status;
}
