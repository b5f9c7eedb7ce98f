// What a cabinet may hold for the installer, and its dates.
#include <algorithm>
#include <cctype>

#include "cabinet.h"
#include "codepage.h"
#include "error.h"
#include "layout.h"
#include "names.h"

namespace quarvel {

constexpr int64_t earliestDosTime = 315532800;   // 1980-01-01 00:00:00 UTC
constexpr int64_t latestDosTime = 4354819198;    // 2107-12-31 23:59:58 UTC
constexpr int64_t secondsPerDay = 86400;

// Days since 1970-01-01 to a civil date and back (proleptic Gregorian calendar).
static void CivilFromDays(int64_t days, int *year, int *month, int *day)
{
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    *day = (int)(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = (int)(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = (int)(yearOfEra + era * 400 + (*month <= 2));
}

static int64_t DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

DosTimestamp ToDosTimestamp(int64_t seconds)
{
    seconds = std::clamp(seconds, earliestDosTime, latestDosTime);
    int year, month, day;
    CivilFromDays(seconds / secondsPerDay, &year, &month, &day);
    int64_t rest = seconds % secondsPerDay;
    DosTimestamp timestamp;
    timestamp.date = DosDate(year, month, day);
    timestamp.time = DosTime((uint32_t)(rest / 3600), (uint32_t)(rest / 60 % 60), (uint32_t)(rest % 60));
    return timestamp;
}

int64_t FromDosTimestamp(DosTimestamp timestamp)
{
    int year = (int)DosYear(timestamp.date);
    int month = std::clamp((int)DosMonth(timestamp.date), 1, 12);
    int day = std::clamp((int)DosDay(timestamp.date), 1, 31);
    int64_t seconds = DosHour(timestamp.time) * 3600 + DosMinute(timestamp.time) * 60 +
                      DosSecond(timestamp.time);
    return DaysFromCivil(year, month, day) * secondsPerDay + seconds;
}

std::string StoredNameFault(const std::string &name)
{
    if (name.empty())
        return "is empty";
    if (name.size() > 255)
        return "is longer than the 255 bytes a cabinet holds";
    if (name.find_first_of("\\/") != std::string::npos)
        return "has a directory part; the installer extracts every file into one directory";
    if (name.find(':') != std::string::npos)
        return "has a drive or stream part";
    if (name == "." || name == "..")
        return "names a directory";
    for (unsigned char c : name)
        if (c >= 0x80)
            return "is not ASCII; the installer creates files under their stored names in the "
                   "system's code page";
    return WindowsNameFault(name);
}

std::string WindowsNameFault(const std::string &name)
{
    if (name.empty() || name == "." || name == "..")
        return "is not a file name";
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || std::string("<>:\"/\\|?*").find((char)c) != std::string::npos)
            return "holds a character that Windows file names cannot hold";
    if (name.back() == '.' || name.back() == ' ')
        return "ends in a dot or a space, which Windows drops from file names";
    if (IsDeviceName(name.data(), name.size()))
        return "is the name of a Windows device";
    return "";
}

std::string FoldedName(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name;
}

std::string PayloadFault(const std::vector<std::string> &names)
{
    if (names.size() > maxRecordedFiles)
        return std::to_string(names.size()) + " files; the installer deletes at most " +
               std::to_string(maxRecordedFiles) + " files after installing";
    for (const std::string &name : names) {
        std::string fault = StoredNameFault(name);
        if (!fault.empty())
            return "the stored name " + Quoted(name) + " " + fault;
    }
    for (size_t i = 0; i < names.size(); i++)
        for (size_t j = 0; j < i; j++)
            if (FoldedName(names[i]) == FoldedName(names[j]))
                return "two files are stored as " + Quoted(names[j]) +
                       (names[i] == names[j] ? "" : " and " + Quoted(names[i])) +
                       "; the installer extracts them into one directory";
    return "";
}

std::string ExtractionNameFault(const std::string &name)
{
    if (name.empty() || name == "." || name == "..")
        return "is not a file name";
    for (size_t start = 0; start <= name.size();) {
        size_t end = std::min(name.find_first_of("\\/", start), name.size());
        if (name.compare(start, end - start, "..") == 0)
            return "leads out of the directory";
        start = end + 1;
    }
    if (name[0] == '\\' || name[0] == '/')
        return "is an absolute path";
    if (name.find(':') != std::string::npos)
        return "has a drive or stream part";
    if (name.find_first_of("\\/") != std::string::npos)
        return "has a directory part";
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return "holds a control character";
    if (ValidUtf8(name) != name)
        return "is not UTF-8 (an overlong form can hide a separator)";
    return "";
}

std::string DisplayName(const CabinetEntry &entry)
{
    if (entry.attributes & cabinetAttributeUtf8Name)
        return entry.name;
    return Windows1252ToUtf8(entry.name);
}

}  // namespace quarvel
