#pragma once

// Small least-squares problems with published answers: the 15-point rational fit of the MINPACK
// user guide and three NIST StRD nonlinear regression problems (data, both starts and the
// certified values as NIST publishes them).

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace lsq {

struct Problem {
    std::string name;
    int32_t n;
    std::vector<double> xs;  // predictor
    std::vector<double> ys;  // response
    double (*model)(const double* b, double x);
    std::vector<std::vector<double>> starts;
    std::vector<double> certified;
    double certifiedRss;  // NaN when none is published

    int32_t m() const { return int32_t(ys.size()); }
};

// residual_i = y_i - model(b, x_i); context is the Problem.
inline int32_t residuals(const double* b, double* out, void* context)
{
    const Problem& p = *static_cast<const Problem*>(context);
    for (size_t i = 0; i < p.ys.size(); ++i)
        out[i] = p.ys[i] - p.model(b, p.xs[i]);
    return 0;
}

inline double residualSumOfSquares(const Problem& p, const double* b)
{
    std::vector<double> r(p.ys.size());
    residuals(b, r.data(), const_cast<Problem*>(&p));
    double sum = 0.0;
    for (double v : r)
        sum += v * v;
    return sum;
}

// The guide's example: y_i - (x1 + u / (x2 v + x3 w)) with u = i, v = 16 - i, w = min(u, v).
inline Problem minpackGuide()
{
    Problem p{"MinpackGuide", 3, {}, {0.14, 0.18, 0.22, 0.25, 0.29, 0.32, 0.35, 0.39, 0.37, 0.58,
                                      0.73, 0.96, 1.34, 2.10, 4.39},
              [](const double* b, double x) {
                  const double u = x, v = 16.0 - x, w = u > 8.0 ? v : u;
                  return b[0] + u / (b[1] * v + b[2] * w);
              },
              {{1.0, 1.0, 1.0}},
              {0.8241058e-01, 0.1133037e+01, 0.2343695e+01},
              NAN};
    for (int i = 1; i <= 15; ++i)
        p.xs.push_back(double(i));
    return p;
}

inline Problem misra1a()
{
    return Problem{"Misra1a", 2,
                   {77.6, 114.9, 141.1, 190.8, 239.9, 289.0, 332.8, 378.4, 434.8, 477.3, 536.8,
                    593.1, 689.1, 760.0},
                   {10.07, 14.73, 17.94, 23.93, 29.61, 35.18, 40.02, 44.82, 50.76, 55.05, 61.01,
                    66.40, 75.47, 81.78},
                   [](const double* b, double x) { return b[0] * (1.0 - std::exp(-b[1] * x)); },
                   {{500.0, 1.0e-4}, {250.0, 5.0e-4}},
                   {2.3894212918E+02, 5.5015643181E-04},
                   1.2455138894E-01};
}

inline Problem thurber()
{
    return Problem{
        "Thurber", 7,
        {-3.067, -2.981, -2.921, -2.912, -2.840, -2.797, -2.702, -2.699, -2.633, -2.481, -2.363,
         -2.322, -1.501, -1.460, -1.274, -1.212, -1.100, -1.046, -0.915, -0.714, -0.566, -0.545,
         -0.400, -0.309, -0.109, -0.103, 0.010,  0.119,  0.377,  0.790,  0.963,  1.006,  1.115,
         1.572,  1.841,  2.047,  2.200},
        {80.574,   84.248,   87.264,   87.195,   89.076,   89.608,   89.868,   90.101,
         92.405,   95.854,   100.696,  101.060,  401.672,  390.724,  567.534,  635.316,
         733.054,  759.087,  894.206,  990.785,  1090.109, 1080.914, 1122.643, 1178.351,
         1260.531, 1273.514, 1288.339, 1327.543, 1353.863, 1414.509, 1425.208, 1421.384,
         1442.962, 1464.350, 1468.705, 1447.894, 1457.628},
        [](const double* b, double x) {
            const double x2 = x * x, x3 = x2 * x;
            return (b[0] + b[1] * x + b[2] * x2 + b[3] * x3) / (1.0 + b[4] * x + b[5] * x2 + b[6] * x3);
        },
        {{1000.0, 1000.0, 400.0, 40.0, 0.7, 0.3, 0.03}, {1300.0, 1500.0, 500.0, 75.0, 1.0, 0.4, 0.05}},
        {1.2881396800E+03, 1.4910792535E+03, 5.8323836877E+02, 7.5416644291E+01, 9.6629502864E-01,
         3.9797285797E-01, 4.9727297349E-02},
        5.6427082397E+03};
}

inline Problem mgh09()
{
    return Problem{"MGH09", 4,
                   {4.0, 2.0, 1.0, 0.5, 0.25, 0.167, 0.125, 0.1, 0.0833, 0.0714, 0.0625},
                   {0.1957, 0.1947, 0.1735, 0.1600, 0.0844, 0.0627, 0.0456, 0.0342, 0.0323, 0.0235,
                    0.0246},
                   [](const double* b, double x) {
                       return b[0] * (x * x + x * b[1]) / (x * x + x * b[2] + b[3]);
                   },
                   {{25.0, 39.0, 41.5, 39.0}, {0.25, 0.39, 0.415, 0.39}},
                   {1.9280693458E-01, 1.9128232873E-01, 1.2305650693E-01, 1.3606233068E-01},
                   3.0750560385E-04};
}

// Number of leading significant digits x shares with reference.
inline double significantDigits(double x, double reference)
{
    const double rel = std::fabs(x - reference) / std::fabs(reference);
    return rel == 0.0 ? 17.0 : -std::log10(rel);
}

}  // namespace lsq
