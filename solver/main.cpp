// vorlax-solver: the solver program that vorlax drives over pipes (YICES_EXE).
#include "ys_session.hpp"

int main(int argc, char** argv) { return vxsolver::solverMain(argc, argv); }
