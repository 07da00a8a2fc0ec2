#pragma once
// Equivalent degrees of freedom of a stability variance for power-law noise of exponent
// alpha, by Greenhall's algorithm ("Uncertainty of stability variances based on finite
// differences", Greenhall and Riley 2003; NIST SP 1065 section 5.6): the variance of the
// estimator summed over the lags of its terms from the generalised autocovariance of the
// noise (the basic sum, for up to 100 lags), or from the paper's large-sample tables.
// It covers the plain and overlapping Allan deviations (phase differences of order 2, stride
// m or 1), the modified Allan deviation (order 2, the phase averaged over tau) and the
// overlapping Hadamard deviation (order 3).

#include <cstdint>

namespace pemra {

// `order`: 2 Allan, 3 Hadamard; `phasePoints`: samples + 1 for rate data; `overlapping`:
// every start sample (stride 1) rather than back-to-back; `modified`: the phase averaged
// over m. alpha + 2 order must exceed 1. Returns 0 where the estimator has no term.
double GreenhallEdf(int alpha, int order, int64_t m, int64_t phasePoints, bool overlapping,
                    bool modified);

}  // namespace pemra
