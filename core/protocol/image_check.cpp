#include "core/protocol/image_check.h"

#include <QCoreApplication>

namespace image_check {

namespace {

Verdict Refused(Fault fault, const QString &reason)
{
    return Verdict{fault, reason};
}

}  // namespace

QString GroupedNumber(int64_t value)
{
    // Digits of the magnitude in uint64_t: -INT64_MIN does not fit int64_t.
    const uint64_t magnitude = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
    const QString digits = QString::number(magnitude);
    // A comma is the decimal sign in some languages: they group with a space.
    const QString separator = QCoreApplication::translate("ImageCheck", ",", "digit group separator");
    QString grouped;
    for (int i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += separator;
        grouped += digits[i];
    }
    return value < 0 ? QLatin1Char('-') + grouped : grouped;
}

Verdict CheckFileSize(int64_t fileSize)
{
    if (fileSize > kLargestFile)
        return Refused(Fault::TooLarge,
                       QCoreApplication::translate("ImageCheck", "The file is larger than any firmware image could be "
                                                                 "(%1 bytes; at most %2)")
                           .arg(GroupedNumber(fileSize), GroupedNumber(kLargestFile)));
    return Verdict{};
}

Verdict CheckImage(int64_t fileSize, uint32_t descriptionLength, int32_t sectionSize)
{
    if (Verdict bySize = CheckFileSize(fileSize); !bySize.Accepted())
        return bySize;
    if (fileSize < kTrailerBytes)
        return Refused(Fault::TooShort,
                       QCoreApplication::translate("ImageCheck",
                                                   "The file is too short to be a firmware image (%1 bytes)")
                           .arg(GroupedNumber(fileSize)));
    if (int64_t(descriptionLength) + kTrailerBytes > fileSize)
        return Refused(Fault::DescriptionBeyondFile,
                       QCoreApplication::translate("ImageCheck", "The description declared in the file (%1 bytes) "
                                                                 "does not fit in the file (%2 bytes)")
                           .arg(GroupedNumber(descriptionLength), GroupedNumber(fileSize)));
    if (int64_t(sectionSize) > fileSize)
        return Refused(Fault::SectionBeyondFile,
                       QCoreApplication::translate("ImageCheck", "The program section declared in the file (%1 bytes) "
                                                                 "is larger than the file (%2 bytes)")
                           .arg(GroupedNumber(sectionSize), GroupedNumber(fileSize)));
    if (sectionSize <= 0)
        return Refused(Fault::SectionTooSmall,
                       QCoreApplication::translate("ImageCheck", "The file declares no program section"));
    if (sectionSize < kSmallestSection)
        return Refused(Fault::SectionTooSmall,
                       QCoreApplication::translate("ImageCheck", "The program section declared in the file (%1 bytes) "
                                                                 "is smaller than the smallest firmware program "
                                                                 "(%2 bytes)")
                           .arg(GroupedNumber(sectionSize), GroupedNumber(kSmallestSection)));
    return Verdict{};
}

Verdict CheckImageBytes(const uint8_t *data, size_t size)
{
    if (size < size_t(kTrailerBytes))
        return CheckImage(int64_t(size), 0, 0);
    const uint8_t *trailer = data + size - kTrailerBytes;
    const uint32_t descriptionLength = trailer[0] | (trailer[1] << 8) | (uint32_t(trailer[2]) << 16);
    const auto sectionSize = int32_t(trailer[4] | (trailer[5] << 8) | (trailer[6] << 16) | (uint32_t(trailer[7]) << 24));
    return CheckImage(int64_t(size), descriptionLength, sectionSize);
}

}  // namespace image_check
