#include "options/BrowserEmulation.h"
#include "options/IniRegistry.h"
#include "options/OsInfo.h"
#include "options/RegistryPath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

Q_DECLARE_METATYPE(lintbay::RootKey)

namespace {

const QString kHklmKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Lintbay\\Test"_s;
const QString kVersionKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"_s;

// Writes a file, creating its folder.
void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void rootKeyFromName_data();
    void rootKeyFromName();
    void parseRegistryPath_data();
    void parseRegistryPath();

    void iniRegistryValues();
    void iniRegistryNames_data();
    void iniRegistryNames();
    void iniRegistryEmptyViewFollowsBitness();
    void iniRegistryUnwritable_data();
    void iniRegistryUnwritable();

    void emulationValueName_data();
    void emulationValueName();
    void setBrowserEmulation_data();
    void setBrowserEmulation();
    void getBrowserEmulation_data();
    void getBrowserEmulation();
    void emulationRoundTrip();

    void osBitness_data();
    void osBitness();
    void parseOsRelease_data();
    void parseOsRelease();
    void osVersionFromOsRelease_data();
    void osVersionFromOsRelease();
    void osVersionFromRegistry_data();
    void osVersionFromRegistry();

private:
    QString iniPath() const { return m_dir.filePath(u"registry.ini"_s); }

    QTemporaryDir m_dir;
};

void TestOptions::rootKeyFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<RootKey>("root");
    QTest::newRow("classes") << u"HKEY_CLASSES_ROOT"_s << RootKey::ClassesRoot;
    QTest::newRow("user") << u"HKEY_CURRENT_USER"_s << RootKey::CurrentUser;
    QTest::newRow("machine") << u"HKEY_LOCAL_MACHINE"_s << RootKey::LocalMachine;
    QTest::newRow("users") << u"HKEY_USERS"_s << RootKey::Users;
    QTest::newRow("perf") << u"HKEY_PERFORMANCE_DATA"_s << RootKey::PerformanceData;
    QTest::newRow("config") << u"HKEY_CURRENT_CONFIG"_s << RootKey::CurrentConfig;
    QTest::newRow("dyn") << u"HKEY_DYN_DATA"_s << RootKey::DynData;
    QTest::newRow("lower, padded") << u"  hkey_local_machine \t"_s << RootKey::LocalMachine;
    QTest::newRow("short form") << u"HKLM"_s << RootKey::None;
    QTest::newRow("prefix only") << u"HKEY_"_s << RootKey::None;
    QTest::newRow("longer") << u"HKEY_USERSX"_s << RootKey::None;
    QTest::newRow("empty") << QString() << RootKey::None;
}

void TestOptions::rootKeyFromName()
{
    QFETCH(QString, name);
    QFETCH(RootKey, root);
    QCOMPARE(RootKeyFromName(name), root);
}

void TestOptions::parseRegistryPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<RootKey>("root");
    QTest::addColumn<QString>("subKey");
    QTest::newRow("full") << u"HKEY_LOCAL_MACHINE\\SOFTWARE\\A B\\C"_s << RootKey::LocalMachine
                          << u"SOFTWARE\\A B\\C"_s;
    QTest::newRow("root only") << u"HKEY_USERS"_s << RootKey::Users << QString();
    QTest::newRow("mixed-case root") << u"HKEY_Current_User\\x"_s << RootKey::CurrentUser << u"x"_s;
    QTest::newRow("blank before slash") << u"HKEY_CURRENT_USER \\x"_s << RootKey::CurrentUser << u"x"_s;
    QTest::newRow("trailing slash") << u"HKEY_LOCAL_MACHINE\\SOFTWARE\\"_s << RootKey::None << QString();
    QTest::newRow("root with slash") << u"HKEY_LOCAL_MACHINE\\"_s << RootKey::None << QString();
    QTest::newRow("no prefix") << u"SOFTWARE\\x"_s << RootKey::None << QString();
    QTest::newRow("lower-case prefix") << u"hkey_local_machine\\x"_s << RootKey::None << QString();
    QTest::newRow("leading blank") << u" HKEY_LOCAL_MACHINE\\x"_s << RootKey::None << QString();
    QTest::newRow("unknown root") << u"HKEY_NOWHERE\\x"_s << RootKey::None << u"x"_s;
    QTest::newRow("empty") << QString() << RootKey::None << QString();
}

void TestOptions::parseRegistryPath()
{
    QFETCH(QString, path);
    QFETCH(RootKey, root);
    QFETCH(QString, subKey);
    const RegistryPath parsed = ParseRegistryPath(path);
    QCOMPARE(parsed.root, root);
    if (root != RootKey::None)
        QCOMPARE(parsed.subKey, subKey);
}

void TestOptions::iniRegistryValues()
{
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(u"values.ini"_s);
    {
        IniRegistry registry(path);
        QCOMPARE(registry.RegReadDword(kHklmKey, u"a"_s, u"32"_s), u"Error"_s);
        QVERIFY(registry.RegWriteDword(kHklmKey, u"a"_s, 11001, u"32"_s));
        QVERIFY(registry.RegWriteDword(kHklmKey, u"a"_s, 4294967295u, u"64"_s));
        QVERIFY(registry.RegWriteString(kHklmKey, u"s"_s, QString(u"  Debian \u0000junk"_s), u"32"_s));
        QVERIFY(registry.RegWriteString(kHklmKey, u"list"_s, u"a, b;c=d"_s, u"32"_s));
        // A string that looks like the stored form of a number would read back as one.
        QVERIFY(!registry.RegWriteString(kHklmKey, u"fake"_s, u"dword:00000001"_s, u"32"_s));
    }
    // A second instance sees what the first one stored.
    IniRegistry registry(path);
    QCOMPARE(registry.RegReadDword(kHklmKey, u"a"_s, u"32"_s), u"11001"_s);
    QCOMPARE(registry.RegReadDword(kHklmKey, u"a"_s, u"64"_s), u"4294967295"_s);
    // Anything but "64" is the default view.
    QCOMPARE(registry.RegReadDword(kHklmKey, u"a"_s, u"x"_s), u"11001"_s);
    QCOMPARE(registry.RegReadString(kHklmKey, u"s"_s, u"32"_s), u"Debian"_s);
    QCOMPARE(registry.RegReadString(kHklmKey, u"list"_s, u"32"_s), u"a, b;c=d"_s);
    QCOMPARE(registry.RegReadString(kHklmKey, u"s"_s, u"64"_s), u"Error"_s);
    QCOMPARE(registry.RegReadString(kHklmKey, u"fake"_s, u"32"_s), u"Error"_s);
    // Reads check the value's type.
    QCOMPARE(registry.RegReadString(kHklmKey, u"a"_s, u"32"_s), u"Error"_s);
    QCOMPARE(registry.RegReadDword(kHklmKey, u"s"_s, u"32"_s), u"Error"_s);

    // Deleting leaves the other view alone; a missing value still deletes "successfully".
    QVERIFY(registry.RegDeleteNamedValue(kHklmKey, u"a"_s, u"32"_s));
    QCOMPARE(registry.RegReadDword(kHklmKey, u"a"_s, u"32"_s), u"Error"_s);
    QCOMPARE(registry.RegReadDword(kHklmKey, u"a"_s, u"64"_s), u"4294967295"_s);
    QVERIFY(registry.RegDeleteNamedValue(kHklmKey, u"a"_s, u"32"_s));
    QVERIFY(registry.RegDeleteNamedValue(kHklmKey, u"never"_s, u"64"_s));

    // A path without a root touches nothing.
    QVERIFY(!registry.RegWriteDword(u"SOFTWARE\\Lintbay"_s, u"a"_s, 1, u"32"_s));
    QVERIFY(!registry.RegDeleteNamedValue(u"HKEY_LOCAL_MACHINE\\x\\"_s, u"a"_s, u"32"_s));
    QCOMPARE(registry.RegReadDword(u"HKLM\\SOFTWARE"_s, u"a"_s, u"32"_s), u"Error"_s);
}

void TestOptions::iniRegistryNames_data()
{
    // Two names that must reach the same value, and one that must not.
    QTest::addColumn<QString>("writeKey");
    QTest::addColumn<QString>("writeName");
    QTest::addColumn<QString>("sameKey");
    QTest::addColumn<QString>("sameName");
    QTest::addColumn<QString>("otherKey");
    QTest::addColumn<QString>("otherName");
    QTest::newRow("case of key and name")
        << u"HKEY_LOCAL_MACHINE\\Software\\Case"_s << u"Prog.EXE"_s << u"HKEY_local_machine\\SOFTWARE\\CASE"_s
        << u"prog.exe"_s << u"HKEY_CURRENT_USER\\Software\\Case"_s << u"prog.exe"_s;
    QTest::newRow("slash in a value name")
        << u"HKEY_LOCAL_MACHINE\\S\\K"_s << u"a/b"_s << u"HKEY_LOCAL_MACHINE\\S\\K"_s << u"A/B"_s
        << u"HKEY_LOCAL_MACHINE\\S\\K\\a"_s << u"b"_s;
    QTest::newRow("backslash in a value name")
        << u"HKEY_LOCAL_MACHINE\\S\\K"_s << u"a\\b"_s << u"HKEY_LOCAL_MACHINE\\S\\K"_s << u"a\\b"_s
        << u"HKEY_LOCAL_MACHINE\\S\\K\\a"_s << u"b"_s;
    QTest::newRow("escape-like name")
        << u"HKEY_LOCAL_MACHINE\\S"_s << u"a%2Fb"_s << u"HKEY_LOCAL_MACHINE\\S"_s << u"A%2fB"_s
        << u"HKEY_LOCAL_MACHINE\\S"_s << u"a/b"_s;
    QTest::newRow("unnamed value") << u"HKEY_LOCAL_MACHINE\\S\\U"_s << QString()
                                   << u"HKEY_LOCAL_MACHINE\\S\\U"_s << QString()
                                   << u"HKEY_LOCAL_MACHINE\\S\\U"_s << u"@"_s;
    QTest::newRow("non-ASCII") << u"HKEY_LOCAL_MACHINE\\软件"_s << u"下载.exe"_s
                               << u"HKEY_LOCAL_MACHINE\\软件"_s << u"下载.EXE"_s
                               << u"HKEY_LOCAL_MACHINE\\软件"_s << u"下载"_s;
}

void TestOptions::iniRegistryNames()
{
    QFETCH(QString, writeKey);
    QFETCH(QString, writeName);
    QFETCH(QString, sameKey);
    QFETCH(QString, sameName);
    QFETCH(QString, otherKey);
    QFETCH(QString, otherName);
    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".ini"_s);
    IniRegistry registry(path);
    QVERIFY(registry.RegWriteDword(writeKey, writeName, 7000, u"32"_s));
    QCOMPARE(IniRegistry(path).RegReadDword(sameKey, sameName, u"32"_s), u"7000"_s);
    QCOMPARE(IniRegistry(path).RegReadDword(otherKey, otherName, u"32"_s), u"Error"_s);
}

void TestOptions::iniRegistryEmptyViewFollowsBitness()
{
    const QString path = m_dir.filePath(u"emptyview.ini"_s);
    IniRegistry registry(path);
    registry.setOsBitness(u"64"_s);
    QVERIFY(registry.RegWriteDword(kHklmKey, u"v"_s, 1, QString()));
    QCOMPARE(registry.RegReadDword(kHklmKey, u"v"_s, u"64"_s), u"1"_s);
    QCOMPARE(registry.RegReadDword(kHklmKey, u"v"_s, u"32"_s), u"Error"_s);
    registry.setOsBitness(u"32"_s);
    QCOMPARE(registry.RegReadDword(kHklmKey, u"v"_s, QString()), u"Error"_s);
    // Unset, the bitness is this machine's.
    registry.setOsBitness(QString());
    QCOMPARE(registry.osBitness(), GetOsBitness());
}

void TestOptions::iniRegistryUnwritable_data()
{
    // Both stay unwritable for root as well.
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<bool>("parentIsFile");
    QTest::newRow("folder is a file") << u"plainfile/registry.ini"_s << true;
    QTest::newRow("file is a folder") << u"afolder.ini"_s << false;
}

void TestOptions::iniRegistryUnwritable()
{
    QFETCH(QString, relativePath);
    QFETCH(bool, parentIsFile);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(relativePath);
    if (parentIsFile)
        writeFile(QFileInfo(path).absolutePath(), "not a folder");
    else
        QVERIFY(QDir().mkpath(path));

    IniRegistry registry(path);
    registry.setOsBitness(u"64"_s);
    QVERIFY(!registry.RegWriteDword(kHklmKey, u"v"_s, 1, u"32"_s));
    QVERIFY(!registry.RegWriteString(kHklmKey, u"s"_s, u"x"_s, u"32"_s));
    QVERIFY(!registry.RegDeleteNamedValue(kHklmKey, u"v"_s, u"64"_s));
    // Nothing was held back in memory either.
    QCOMPARE(registry.RegReadDword(kHklmKey, u"v"_s, u"32"_s), u"Error"_s);

    SetBrowserEmulation(registry, u"IE9"_s, 1, u"64"_s);
    QCOMPARE(GetBrowserEmulation(registry, u"64"_s), (BrowserEmulation{u"IE默认"_s, 1}));
    QCOMPARE(QFileInfo(path).isDir(), !parentIsFile);
}

void TestOptions::emulationValueName_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << u"/usr/bin/lintbay"_s << u"lintbay.exe"_s;
    QTest::newRow("windows") << u"C:/Program Files/Lintbay/Lintbay.EXE"_s << u"Lintbay.exe"_s;
    QTest::newRow("dotted") << u"/opt/a.b/lintbay-1.2"_s << u"lintbay-1.2.exe"_s;
    QTest::newRow("none") << QString() << u"lintbay.exe"_s;
}

void TestOptions::emulationValueName()
{
    QFETCH(QString, executable);
    QFETCH(QString, name);
    QCOMPARE(browserEmulationValueNameFor(executable), name);
    QCOMPARE(browserEmulationValueName(), u"tst_options.exe"_s);
}

void TestOptions::setBrowserEmulation_data()
{
    // Both views start with the value 1234; "Error" means deleted.
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("bitness");
    QTest::addColumn<QString>("defaultView");
    QTest::addColumn<QString>("view64");
    QTest::newRow("IE9 on 64") << u"IE9"_s << 1 << u"64"_s << u"9000"_s << u"9000"_s;
    QTest::newRow("IE9 on 32") << u"IE9"_s << 1 << u"32"_s << u"9000"_s << u"1234"_s;
    QTest::newRow("ie11 lower-case") << u"ie11"_s << 1 << u"64"_s << u"11000"_s << u"11000"_s;
    QTest::newRow("IE11 mode 2") << u"IE11"_s << 2 << u"64"_s << u"11001"_s << u"11001"_s;
    QTest::newRow("IE10 mode 2") << u"IE10"_s << 2 << u"32"_s << u"10001"_s << u"1234"_s;
    QTest::newRow("IE9 mode 2") << u"IE9"_s << 2 << u"64"_s << u"9999"_s << u"9999"_s;
    QTest::newRow("IE8 mode 2") << u"IE8"_s << 2 << u"64"_s << u"8888"_s << u"8888"_s;
    QTest::newRow("IE8 mode 1") << u"IE8"_s << 1 << u"64"_s << u"8000"_s << u"8000"_s;
    QTest::newRow("IE7 mode 2") << u"IE7"_s << 2 << u"64"_s << u"7000"_s << u"7000"_s;
    QTest::newRow("odd mode") << u"IE10"_s << 0 << u"64"_s << u"10000"_s << u"10000"_s;
    QTest::newRow("default deletes on 64") << u"IE默认"_s << 1 << u"64"_s << u"Error"_s << u"Error"_s;
    QTest::newRow("default deletes on 32") << u"IE默认"_s << 1 << u"32"_s << u"Error"_s << u"1234"_s;
    QTest::newRow("empty deletes") << QString() << 1 << u"64"_s << u"Error"_s << u"Error"_s;
    QTest::newRow("unknown deletes") << u"IE12"_s << 1 << u"64"_s << u"Error"_s << u"Error"_s;
}

void TestOptions::setBrowserEmulation()
{
    QFETCH(QString, version);
    QFETCH(int, mode);
    QFETCH(QString, bitness);
    QFETCH(QString, defaultView);
    QFETCH(QString, view64);
    const QString path = m_dir.filePath(
        u"set-"_s + QString::number(qHash(QString::fromUtf8(QTest::currentDataTag()))) + u".ini"_s);
    IniRegistry registry(path);
    const QString key = browserEmulationKeyPath();
    const QString name = browserEmulationValueName();
    QVERIFY(registry.RegWriteDword(key, name, 1234, u"32"_s));
    QVERIFY(registry.RegWriteDword(key, name, 1234, u"64"_s));

    SetBrowserEmulation(registry, version, mode, bitness);
    QCOMPARE(registry.RegReadDword(key, name, u"32"_s), defaultView);
    QCOMPARE(registry.RegReadDword(key, name, u"64"_s), view64);
}

void TestOptions::getBrowserEmulation_data()
{
    // Stored values, -1 for none, and the bitness asked for.
    QTest::addColumn<qint64>("defaultView");
    QTest::addColumn<qint64>("view64");
    QTest::addColumn<QString>("bitness");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("mode");
    QTest::newRow("11001") << 11001LL << -1LL << u"64"_s << u"IE11"_s << 2;
    QTest::newRow("11000") << 11000LL << -1LL << u"32"_s << u"IE11"_s << 1;
    QTest::newRow("10001") << 10001LL << -1LL << u"32"_s << u"IE10"_s << 2;
    QTest::newRow("10000") << 10000LL << -1LL << u"32"_s << u"IE10"_s << 1;
    QTest::newRow("9999") << 9999LL << -1LL << u"32"_s << u"IE9"_s << 2;
    QTest::newRow("9000") << 9000LL << -1LL << u"32"_s << u"IE9"_s << 1;
    QTest::newRow("8888") << 8888LL << -1LL << u"32"_s << u"IE8"_s << 2;
    QTest::newRow("8000") << 8000LL << -1LL << u"32"_s << u"IE8"_s << 1;
    QTest::newRow("7000") << 7000LL << -1LL << u"32"_s << u"IE7"_s << 1;
    QTest::newRow("12000") << 12000LL << -1LL << u"64"_s << u"IE默认"_s << 1;
    QTest::newRow("zero") << 0LL << 9000LL << u"64"_s << u"IE默认"_s << 1;
    QTest::newRow("none") << -1LL << -1LL << u"64"_s << u"IE默认"_s << 1;
    QTest::newRow("default view wins") << 8000LL << 10000LL << u"64"_s << u"IE8"_s << 1;
    QTest::newRow("64-bit view on 64") << -1LL << 9000LL << u"64"_s << u"IE9"_s << 1;
    QTest::newRow("64-bit view ignored on 32") << -1LL << 9000LL << u"32"_s << u"IE默认"_s << 1;
}

void TestOptions::getBrowserEmulation()
{
    QFETCH(qint64, defaultView);
    QFETCH(qint64, view64);
    QFETCH(QString, bitness);
    QFETCH(QString, version);
    QFETCH(int, mode);
    const QString path = m_dir.filePath(u"get-"_s + QString::fromLatin1(QTest::currentDataTag()) + u".ini"_s);
    IniRegistry registry(path);
    const QString key = browserEmulationKeyPath();
    const QString name = browserEmulationValueName();
    if (defaultView >= 0)
        QVERIFY(registry.RegWriteDword(key, name, quint32(defaultView), u"32"_s));
    if (view64 >= 0)
        QVERIFY(registry.RegWriteDword(key, name, quint32(view64), u"64"_s));
    QCOMPARE(GetBrowserEmulation(registry, bitness), (BrowserEmulation{version, mode}));
}

void TestOptions::emulationRoundTrip()
{
    // What the dialog writes is what the next start reads, in both bitnesses and both modes.
    IniRegistry registry(m_dir.filePath(u"roundtrip.ini"_s));
    for (const QString& bitness : {u"32"_s, u"64"_s}) {
        for (const QString& version : {u"IE7"_s, u"IE8"_s, u"IE9"_s, u"IE10"_s, u"IE11"_s}) {
            for (int mode : {1, 2}) {
                SetBrowserEmulation(registry, version, mode, bitness);
                const int expectedMode = version == u"IE7"_s ? 1 : mode;
                QCOMPARE(GetBrowserEmulation(registry, bitness), (BrowserEmulation{version, expectedMode}));
            }
        }
        SetBrowserEmulation(registry, u"IE默认"_s, 1, bitness);
        QCOMPARE(GetBrowserEmulation(registry, u"64"_s), (BrowserEmulation{u"IE默认"_s, 1}));
    }
}

void TestOptions::osBitness_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("build");
    QTest::addColumn<QString>("bitness");
    QTest::newRow("x86_64") << u"x86_64"_s << u"x86_64"_s << u"64"_s;
    QTest::newRow("arm64") << u"arm64"_s << u"arm64"_s << u"64"_s;
    QTest::newRow("32-bit program on 64-bit system") << u"x86_64"_s << u"i386"_s << u"64"_s;
    QTest::newRow("64-bit program, system unknown") << QString() << u"arm64"_s << u"64"_s;
    QTest::newRow("i386") << u"i386"_s << u"i386"_s << u"32"_s;
    QTest::newRow("arm") << u"arm"_s << u"arm"_s << u"32"_s;
    QTest::newRow("sparcv9") << u"sparcv9"_s << u"sparc"_s << u"64"_s;
    QTest::newRow("unknown") << QString() << QString() << u"32"_s;
}

void TestOptions::osBitness()
{
    QFETCH(QString, current);
    QFETCH(QString, build);
    QFETCH(QString, bitness);
    QCOMPARE(OsBitnessFor(current, build), bitness);
}

void TestOptions::parseOsRelease_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value"); // null when the key must be absent
    QTest::newRow("unquoted") << QByteArray("ID=debian\n") << u"ID"_s << u"debian"_s;
    QTest::newRow("double quotes") << QByteArray("NAME=\"Debian GNU/Linux\"\n") << u"NAME"_s
                                   << u"Debian GNU/Linux"_s;
    QTest::newRow("double-quote escapes")
        << QByteArray(R"(NAME="A \"B\" \\ \$x \`y\` \n")") << u"NAME"_s << uR"(A "B" \ $x `y` \n)"_s;
    QTest::newRow("single quotes literal")
        << QByteArray(R"(NAME='a \"b\" $c')") << u"NAME"_s << uR"(a \"b\" $c)"_s;
    QTest::newRow("joined quoting") << QByteArray(R"(NAME='It'\''s'" ok")") << u"NAME"_s << u"It's ok"_s;
    QTest::newRow("unquoted escape") << QByteArray(R"(NAME=a\ b)") << u"NAME"_s << u"a b"_s;
    QTest::newRow("CRLF and comment")
        << QByteArray("# c\r\n\r\nVERSION_ID=\"12\"\r\n") << u"VERSION_ID"_s << u"12"_s;
    QTest::newRow("trailing comment") << QByteArray("ID=debian # the id\n") << u"ID"_s << u"debian"_s;
    QTest::newRow("empty value") << QByteArray("VERSION_ID=\n") << u"VERSION_ID"_s << u""_s;
    QTest::newRow("UTF-8") << QByteArray("NAME=\"深度\"\n") << u"NAME"_s << u"深度"_s;
    QTest::newRow("later wins") << QByteArray("ID=a\nID=b\n") << u"ID"_s << u"b"_s;
    QTest::newRow("unterminated") << QByteArray("NAME=\"Debian\nID=x\n") << u"NAME"_s << QString();
    QTest::newRow("after unterminated") << QByteArray("NAME=\"Debian\nID=x\n") << u"ID"_s << u"x"_s;
    QTest::newRow("space in unquoted") << QByteArray("NAME=Debian GNU\n") << u"NAME"_s << QString();
    QTest::newRow("space around =") << QByteArray("NAME = x\n") << u"NAME"_s << QString();
    QTest::newRow("bad key") << QByteArray("1NAME=x\n") << u"1NAME"_s << QString();
    QTest::newRow("equals in value") << QByteArray("URL=\"a=b\"\n") << u"URL"_s << u"a=b"_s;
}

void TestOptions::parseOsRelease()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QHash<QString, QString> fields = ParseOsRelease(content);
    if (value.isNull())
        QVERIFY2(!fields.contains(key), qPrintable(fields.value(key)));
    else
        QCOMPARE(fields.value(key, u"<absent>"_s), value);
}

void TestOptions::osVersionFromOsRelease_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("text");
    const QString fallback = u"Some Linux [Version: 6.1.0-18-amd64]"_s;
    QTest::newRow("debian") << QByteArray("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                          "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"
                                          "VERSION=\"12 (bookworm)\"\nID=debian\n")
                            << u"Debian GNU/Linux 版本:12 (内部版本:6.1.0-18-amd64)"_s;
    QTest::newRow("no VERSION_ID") << QByteArray("NAME=Fedora\nVERSION=\"39 (Workstation)\"\n")
                                   << u"Fedora 版本:39 (Workstation) (内部版本:6.1.0-18-amd64)"_s;
    QTest::newRow("rolling") << QByteArray("NAME=\"Arch Linux\"\nBUILD_ID=rolling\n")
                             << u"Arch Linux 版本:rolling (内部版本:6.1.0-18-amd64)"_s;
    QTest::newRow("code name only") << QByteArray("NAME=\"Debian GNU/Linux\"\nVERSION_CODENAME=trixie\n")
                                    << u"Debian GNU/Linux 版本:trixie (内部版本:6.1.0-18-amd64)"_s;
    QTest::newRow("no NAME") << QByteArray("PRETTY_NAME=\"X 1\"\nVERSION_ID=1\n") << fallback;
    QTest::newRow("empty file") << QByteArray("") << fallback;
    QTest::newRow("no file") << QByteArray() << fallback;
}

void TestOptions::osVersionFromOsRelease()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, text);
    OsFacts facts;
    facts.osReleasePath = m_dir.filePath(u"os-release-"_s + QString::fromLatin1(QTest::currentDataTag()));
    facts.kernelRelease = u"6.1.0-18-amd64"_s;
    facts.platformName = u"Some Linux"_s;
    if (!content.isNull())
        writeFile(facts.osReleasePath, content);
    QCOMPARE(OsVersionTextFromOsRelease(facts), text);
    QCOMPARE(FormatOsDescription(OsVersionTextFromOsRelease(facts), u"64"_s), text + u"[64位]"_s);
}

void TestOptions::osVersionFromRegistry_data()
{
    // Values of the version key as name=value pairs; a number marks a DWORD.
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("text");
    const QStringList base{u"ProductName=Windows 10 Pro"_s, u"ReleaseId=2009"_s, u"CurrentVersion=6.3"_s,
                           u"CurrentBuildNumber=19045"_s, u"BuildLab=19041.vb_release.191206-1406"_s};
    QTest::newRow("with UBR") << (base + QStringList{u"#UBR=3803"_s})
                              << u"Windows 10 Pro 版本:2009 (内部版本:19045.3803)"_s;
    QTest::newRow("BuildLab only") << base
                                   << u"Windows 10 Pro 版本:2009 (内部版本:19041.vb_release.191206-1406)"_s;
    QTest::newRow("service pack") << QStringList{u"ProductName=Windows 7 Ultimate"_s, u"CurrentVersion=6.1"_s,
                                                 u"BuildLab=7601.win7sp1_gdr.110622-1506"_s,
                                                 u"CSDVersion=Service Pack 1"_s}
                                  << u"Windows 7 Ultimate 版本:6.1 (内部版本:7601.win7sp1_gdr.110622-1506 : "
                                     u"Service Pack 1)"_s;
    QTest::newRow("no ProductName") << QStringList{u"ReleaseId=2009"_s} << u"Windows [Version: 10.0.19045]"_s;
}

void TestOptions::osVersionFromRegistry()
{
    QFETCH(QStringList, values);
    QFETCH(QString, text);
    IniRegistry registry(
        m_dir.filePath(u"winver-"_s + QString::fromLatin1(QTest::currentDataTag()) + u".ini"_s));
    for (const QString& entry : values) {
        const qsizetype eq = entry.indexOf(u'=');
        if (entry.startsWith(u'#'))
            QVERIFY(registry.RegWriteDword(kVersionKey, entry.mid(1, eq - 1), entry.mid(eq + 1).toUInt(),
                                           u"64"_s));
        else
            QVERIFY(registry.RegWriteString(kVersionKey, entry.left(eq), entry.mid(eq + 1), u"64"_s));
    }
    OsFacts facts;
    facts.kernelRelease = u"10.0.19045"_s;
    facts.platformName = u"Windows"_s;
    QCOMPARE(OsVersionTextFromRegistry(registry, u"64"_s, facts), text);
    // The values live in the 64-bit view only.
    QCOMPARE(OsVersionTextFromRegistry(registry, u"32"_s, facts), u"Windows [Version: 10.0.19045]"_s);
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
