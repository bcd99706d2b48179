// Any text as a typed value (drop height, mass, radius, reference value), read the way the windows
// read it, and checked against the C library's strtod in the "C" locale on the same characters.
// strtod also takes hexadecimal; a typed value is decimal, so those texts are only read, not compared.
// What the windows make of it must hold too: a reference value for the sensor is a finite value in
// its range or none, and a typed radius gives a bounded, finite theory arc.
//
// Input: the text as UTF-8 (see fuzz_support.h).
#include "experiments/ball_orbit.h"
#include "experiments/calibration_tool.h"
#include "experiments/number_texts.h"
#include "fuzz_support.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using zelkor::fuzz::Require;

namespace {

bool Hexadecimal(const char* p)
{
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    return p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zelkor;
    fuzz::Input in(data, size);
    const std::u16string typed = in.RestAsUtf16();
    const QString text = QString::fromUtf16(typed.data(), static_cast<qsizetype>(typed.size()));
    const std::optional<double> number = experiments::LeadingNumber(text);
    const double read = experiments::ReadLeadingNumber(text);
    Require(number ? (read == *number || (std::isnan(read) && std::isnan(*number))) : read == 0.0,
            "the plain reading is the number or 0");

    for (const int code : {experiments::calibration::kCodeTemperature, experiments::calibration::kCodeLeft, experiments::calibration::kCodeRight}) {
        const std::optional<float> reference = experiments::calibration::ReferenceValue(code, text);
        if (!reference)
            continue;
        Require(number && *reference == static_cast<float>(*number) && std::isfinite(*reference),
                "a reference value is the typed number in single precision");
        Require(code == experiments::calibration::kCodeTemperature ? *reference > -273.15f : *reference > 0.0f,
                "a reference value in its range");
    }
    const auto arc = experiments::TheoryArcPoints(read);
    Require(arc.size() <= 3010, "a theory arc of at most 3 m in 1 mm steps");
    for (const auto& [x, y] : arc)
        Require(std::isfinite(x) && std::isfinite(y), "finite points of the theory arc");

    // The characters as strtod sees them: Latin-1 (others unrepresentable), ending at the first NUL.
    const QByteArray latin1 = text.toLatin1();
    const std::string bytes(latin1.constData(), std::strlen(latin1.constData()));
    if (Hexadecimal(bytes.c_str()))
        return 0;
    char* end = nullptr;
    const double expected = std::strtod(bytes.c_str(), &end);
    Require(number.has_value() == (end != bytes.c_str()), "a number exactly where strtod finds one");
    if (number)
        Require(*number == expected || (std::isnan(*number) && std::isnan(expected)), "the value strtod reads");
    return 0;
}
