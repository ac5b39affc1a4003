// The orientation kept a rotation. Each turn is a product in float, and the
// errors build up: after ten thousand turns the matrix was 3e-4 off a
// rotation and began to scale and shear the cloud. One step of the polar
// iteration, R (3I - RtR) / 2, takes a matrix near a rotation back to the
// nearest one, so the error stays that of one product.
#pragma once

#include <array>
#include <cstddef>

// `m` is 4 by 4, columns first as GL keeps it; only its upper 3 by 3 changes.
inline std::array<float, 16> NearestRotation(const std::array<float, 16>& m)
{
    const auto at = [&m](std::size_t column, std::size_t row) { return m[column * 4 + row]; };
    std::array<std::array<double, 3>, 3> gram{};
    for (std::size_t a = 0; a < 3; ++a)
        for (std::size_t b = 0; b < 3; ++b)
            for (std::size_t k = 0; k < 3; ++k)
                gram[a][b] += static_cast<double>(at(a, k)) * at(b, k);
    std::array<float, 16> out = m;
    for (std::size_t column = 0; column < 3; ++column) {
        for (std::size_t row = 0; row < 3; ++row) {
            double sum = 0;
            for (std::size_t b = 0; b < 3; ++b)
                sum += at(b, row) * ((b == column ? 3.0 : 0.0) - gram[b][column]);
            out[column * 4 + row] = static_cast<float>(sum / 2);
        }
    }
    return out;
}
