#include "server/start_up.h"

int main(int argc, char** argv) { return serverMain(argc, argv); }
