// Applies a coordinate operation read from a file (WKT, PROJJSON or a PROJ
// string) to the points on standard input, through PROJ's proj_create and
// proj_trans, as any program linking PROJ would: the cross-checks' stand-in
// for GIS software loading sevenparam-report's exports.
//
//   crs_apply OPERATION_FILE < points      one point a line: three numbers
//
// Prints each point's image, three numbers with 10 decimals. Status 1 when the
// operation cannot be read or a point cannot be transformed.
#include <proj.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: crs_apply OPERATION_FILE < points\n";
        return 2;
    }
    std::ifstream file(argv[1]);
    std::stringstream text;
    text << file.rdbuf();
    PJ* operation = proj_create(PJ_DEFAULT_CTX, text.str().c_str());
    if (!operation) {
        std::cerr << "crs_apply: PROJ cannot read " << argv[1] << '\n';
        return 1;
    }
    double a = 0, b = 0, c = 0;
    while (std::cin >> a >> b >> c) {
        PJ_COORD in = proj_coord(a, b, c, 0);
        PJ_COORD out = proj_trans(operation, PJ_FWD, in);
        if (proj_errno(operation) != 0 || out.v[0] == HUGE_VAL) {
            std::cerr << "crs_apply: cannot transform " << a << ' ' << b << ' ' << c << '\n';
            return 1;
        }
        std::printf("%.10f %.10f %.10f\n", out.v[0], out.v[1], out.v[2]);
    }
    proj_destroy(operation);
    return 0;
}
