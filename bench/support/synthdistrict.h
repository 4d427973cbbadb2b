#pragma once

// The synthetic district the program benchmarks run on. `moxdb synth` makes it once into the
// folder named by MOX_BENCH_DATA (default: bench-data/synth in the build folder), with
// MOX_BENCH_STAFF staff (30,000) and MOX_BENCH_YEARS fiscal years (10); later runs reuse it. The
// folder becomes the place of MOX.INI and MOXENV.INI for the whole process.
//
// A benchmark that includes this header is compiled with MOX_BENCH_MOXDB (the moxdb program) and
// MOX_BENCH_DATA_DEFAULT defined (see bench/support/CMakeLists.txt).

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace benchsupport {

inline bool runMoxdb(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral(MOX_BENCH_MOXDB), args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

/// Makes the district unless it is already there; false when moxdb failed.
inline bool prepareSynthDistrict()
{
    const QString given = qEnvironmentVariable("MOX_BENCH_DATA");
    const QString dir = given.isEmpty() ? QStringLiteral(MOX_BENCH_DATA_DEFAULT) : given;
    qputenv("MOX_INI_DIR", dir.toUtf8());
    const QString ready = dir + QStringLiteral("/ready");
    if (QFile::exists(ready))
        return true;
    QDir().mkpath(dir);
    const QString staff = qEnvironmentVariable("MOX_BENCH_STAFF", QStringLiteral("30000"));
    const QString years = qEnvironmentVariable("MOX_BENCH_YEARS", QStringLiteral("10"));
    std::fprintf(stderr, "making %s staff and %s years in %s (once)\n", qPrintable(staff),
                 qPrintable(years), qPrintable(dir));
    const QString dirOption = QStringLiteral("--dir");
    if (!runMoxdb({QStringLiteral("init"), dirOption, dir}) ||
        !runMoxdb({QStringLiteral("synth"), QStringLiteral("--staff"), staff,
                   QStringLiteral("--years"), years, dirOption, dir}))
        return false;
    QFile marker(ready);
    return marker.open(QIODevice::WriteOnly);
}

} // namespace benchsupport
