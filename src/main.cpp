// Entry point: everything lives in the application shell.
#include "app/entry.h"

int main(int argc, char** argv) {
    return vaxo2::app::runMain(argc, argv);
}
