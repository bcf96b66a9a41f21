#include "analysis/readdat.h"

#include "analysis/driver.h"

namespace bayescreen {

int32_t nn = 0;
int32_t mm = 0;
int32_t nv = 0;
int32_t *rownum = nullptr;
int32_t *ximat = nullptr;
double *yy = nullptr;
char **label = nullptr;
int nlab = 0;
char *factorstr = nullptr;
char *digitstr = nullptr;

ParmEntry parmvar[] = {
    {"NR", "NN", nullptr, "NROWS", "Nrows", 0, &nn, 0, 0, 0},
    {"NC", nullptr, nullptr, "NCOLS", "Ncols", 1, &mm, 0, 0, 0},
    {"NV", nullptr, nullptr, "NVARS", "Nvars", 2, &nv, 0, 0, 0},
    {"PI", nullptr, nullptr, "PI", "Pi", 3, &pi, 1, 0, 0},
    {"GAM", nullptr, nullptr, "GAMMA", "Gamma", 4, &gam, 1, 0, 0},
    {"ALPHA", "ALF", nullptr, "ALPHA", "Alpha", 5, &alpha, 1, 0, 0},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 6, nullptr, 0, 0, 0},
};

}  // namespace bayescreen
