#include "moxdb/records.h"

#include "moxdb/tables.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

QString twoDigits(int n)
{
    return u"%1"_s.arg(n, 2, 10, QLatin1Char('0'));
}

} // namespace

Row kanriRow(const Management& m)
{
    Row r(kanriLayout());
    r.set(u"KEY"_s, u"KANRI"_s);
    r.set(u"SYORID"_s, m.processingMonth);
    r.set(u"KM6KM"_s, m.juneTermEndRate);
    r.set(u"KM12KM"_s, m.decemberTermEndRate);
    r.set(u"KM6KB"_s, m.juneDiligenceRate);
    r.set(u"KM12KB"_s, m.decemberDiligenceRate);
    r.set(u"NKM12KM"_s, m.dailyPaidTermEndRate);
    r.set(u"CHIRIT"_s, m.regionalPercent);
    r.set(u"KENGEN"_s, m.healthCap);
    r.set(u"KOSGEN"_s, m.pensionCap);
    r.set(u"KENTOK"_s, m.juneHealthPerMille);
    r.set(u"KENTK2"_s, m.otherHealthPerMille);
    r.set(u"KAITOK"_s, m.juneCarePerMille);
    r.set(u"KAITK2"_s, m.otherCarePerMille);
    r.set(u"KOSTOK"_s, m.junePensionPerMille);
    r.set(u"KOSTK2"_s, m.otherPensionPerMille);
    r.set(u"GKNAME"_s, m.districtName);
    r.set(u"SYOZOKU"_s, m.workplace);
    return r;
}

Row jinjiRow(const Employee& e)
{
    Row r(jinjiLayout());
    r.set(u"SYOKCD"_s, e.code);
    r.set(u"SIMKNJ"_s, e.name);
    r.set(u"KYUKBN"_s, e.payClass);
    r.set(u"HYOKBN"_s, e.inputClass);
    r.set(u"KAIKBN"_s, e.careInsurance);
    r.set(u"KYURYO"_s, e.salary);
    r.set(u"NITANK"_s, e.dailyWage);
    r.set(u"TYOSEI"_s, e.adjustment);
    r.set(u"KTYOSE"_s, e.teachingAdjustment);
    r.set(u"FUYO"_s, e.dependantsAllowance);
    r.set(u"GENFUY"_s, e.dependants);
    r.set(u"GENHAI"_s, e.spouse);
    r.set(u"SYOZOK"_s, e.office);
    r.set(u"SYOSYU"_s, e.jobKind);
    r.set(u"KGOKYU"_s, e.grade);
    r.set(u"KGOGHO"_s, e.step);
    r.set(u"ZKAYMD_01"_s, e.first.from);
    r.set(u"ZKNYMD_01"_s, e.first.to);
    r.set(u"ZKAYMD_02"_s, e.second.from);
    r.set(u"ZKNYMD_02"_s, e.second.to);
    for (int i = 0; i < 8; ++i) {
        const Period& p = e.further[static_cast<std::size_t>(i)];
        r.set(u"KAIYMD_"_s + twoDigits(i + 1), p.from);
        r.set(u"KANYMD_"_s + twoDigits(i + 1), p.to);
    }
    return r;
}

Row koyouRow(const EmploymentBands& b)
{
    Row r(koyouLayout());
    r.set(u"KAISHI"_s, b.start);
    r.set(u"KAKRIT"_s, b.perMille);
    for (int i = 0; i < 60; ++i) {
        r.set(u"TINGIN_"_s + twoDigits(i + 1), b.upper[static_cast<std::size_t>(i)]);
        r.set(u"HOKEN_"_s + twoDigits(i + 1), b.premium[static_cast<std::size_t>(i)]);
    }
    return r;
}

Row nameTableRow()
{
    Row r(nameLayout());
    const QStringList jobs = {u"校長"_s,     u"教頭"_s,    u"教諭"_s,     u"養護教諭"_s,
                              u"栄養教諭"_s, u"講師"_s,    u"事務職員"_s, u"学校栄養職員"_s,
                              u"用務員"_s,   u"実習助手"_s};
    const QStringList finance = {u"県費"_s,     u"国庫補助"_s, u"県単独"_s,
                                 u"市町村費"_s, u"特別会計"_s, u"教育振興費"_s,
                                 u"研修費"_s,   u"共済費"_s,   u"その他"_s};
    const QStringList appointments = {u"採用"_s, u"昇任"_s, u"転任"_s, u"配置換"_s,
                                      u"休職"_s, u"復職"_s, u"退職"_s, u"兼務"_s};
    for (int i = 0; i < jobs.size(); ++i)
        r.set(u"SYOKU"_s + QString::number(i + 1), jobs[i]);
    for (int i = 0; i < finance.size(); ++i)
        r.set(u"ZAIMU"_s + QString::number(i + 1), finance[i]);
    for (int i = 0; i < appointments.size(); ++i)
        r.set(u"HATSU"_s + QString::number(i + 1), appointments[i]);
    r.set(u"NENKB1"_s, u"S"_s);
    r.set(u"NENKB2"_s, u"H"_s);
    r.set(u"NENKB3"_s, u"R"_s);
    r.set(u"NENKJ1"_s, u"昭和"_s);
    r.set(u"NENKJ2"_s, u"平成"_s);
    r.set(u"NENKJ3"_s, u"令和"_s);
    r.set(u"NENST1"_s, 19261225);
    r.set(u"NENST2"_s, 19890108);
    r.set(u"NENST3"_s, 20190501);
    r.set(u"KIGOU"_s, u"※"_s);
    r.set(u"KENKO"_s, *Currency::parse(u"0.5"));
    r.set(u"KOSEI"_s, *Currency::parse(u"0.5"));
    return r;
}

} // namespace moxdb
