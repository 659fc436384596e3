#include "support/TestEnvironment.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

namespace {
QTemporaryDir* g_home = nullptr;
}

namespace nimbrel::test {

QString homeDirectory()
{
    return g_home->path();
}

QString freshDirectory()
{
    const QString path = homeDirectory() + QStringLiteral("/t-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(path);
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, format);
    return bytes;
}

}  // namespace nimbrel::test

int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    g_home = &home;
    const QByteArray root = home.path().toUtf8();
    qputenv("HOME", root);
    for (const auto& [name, folder] : {std::pair{"XDG_DATA_HOME", "/.local/share"},
                                       {"XDG_CONFIG_HOME", "/.config"},
                                       {"XDG_CACHE_HOME", "/.cache"},
                                       {"XDG_RUNTIME_DIR", "/run"}})
        qputenv(name, root + folder);
    QDir(home.path()).mkdir(QStringLiteral("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ::testing::InitGoogleTest(&argc, argv);
    const std::unique_ptr<QCoreApplication> app(qEnvironmentVariableIsSet("NIMBREL_TEST_GUI")
                                                    ? new QApplication(argc, argv)
                                                    : new QCoreApplication(argc, argv));
    return RUN_ALL_TESTS();
}
