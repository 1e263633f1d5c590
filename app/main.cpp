// The program: hands the arguments to the OS layer and runs quilm.
#include "app/startup.h"
#include "platform/os.h"

int main(int argc, char** argv) {
    platform::os_set_arguments(argc, argv);
    app::run_program();
}
