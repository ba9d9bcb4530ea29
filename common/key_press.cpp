#include "common/key_press.h"

#include <chrono>
#include <csignal>
#include <initializer_list>
#include <cstdlib>
#include <termios.h>
#include <unistd.h>

#include "app/settings.h"

namespace {

termios initial_settings;
termios new_settings;
int peek_character = -1;
// Set while the console is in single-key mode; read by the signal handler.
volatile std::sig_atomic_t single_key_mode_on = 0;

void RestoreConsole()
{
    if (single_key_mode_on != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &initial_settings);
        single_key_mode_on = 0;
    }
}

// A termination signal must not leave the user's terminal without echo.
void RestoreAndReraise(int signal_number)
{
    RestoreConsole();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void InstallBackstops()
{
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    std::atexit(RestoreConsole);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction action {};
        action.sa_handler = RestoreAndReraise;
        sigemptyset(&action.sa_mask);
        sigaction(signal_number, &action, nullptr);
    }
}

void ApplyMinimumCharacters(cc_t minimum)
{
    new_settings.c_cc[VMIN] = minimum;
    tcsetattr(STDIN_FILENO, TCSANOW, &new_settings);
}

} // namespace

void INITIALISE_KEY_PRESS()
{
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &initial_settings) != 0) {
        return;
    }
    InstallBackstops();
    new_settings = initial_settings;
    new_settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    new_settings.c_cc[VMIN] = 1;
    new_settings.c_cc[VTIME] = 0;
    single_key_mode_on = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &new_settings);
}

void STOP_RECEIVING_KEY_PRESSES() { RestoreConsole(); }

int _kbhit()
{
    if (peek_character != -1) {
        return 1;
    }
    // Without a terminal there is no keyboard: scripted input is never a key.
    if (single_key_mode_on == 0) {
        return 0;
    }
    ApplyMinimumCharacters(0);
    unsigned char character = 0;
    const ssize_t count = read(STDIN_FILENO, &character, 1);
    ApplyMinimumCharacters(1);
    if (count == 1) {
        peek_character = character;
        return 1;
    }
    return 0;
}

int _getch()
{
    if (peek_character != -1) {
        const int key = peek_character;
        peek_character = -1;
        return static_cast<signed char>(key);
    }
    unsigned char character = 0;
    if (read(STDIN_FILENO, &character, 1) != 1) {
        return -1;
    }
    return static_cast<signed char>(character);
}

void WaitOnKeyPressOrReadCompleting(DeviceHandle device, TransferId id, TransferStatus *status, bool *key_pressed)
{
    constexpr useconds_t kPollPeriod = 10000;
    // Input from a pipe or a file has no key to press: without a time-out of
    // the reads' own, the wait ends after a quiet second as if a key had been
    // pressed, and the next line of input is read.
    const bool scripted = isatty(STDIN_FILENO) == 0 && timeout <= 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
        usleep(kPollPeriod);
        *key_pressed = false;
        if (_kbhit() != 0) {
            *key_pressed = true;
            const int key = _getch();
            // These keys announce a second byte (function and cursor keys).
            if (key == 0 || key == 14) {
                _getch();
            }
        }
        *status = Vantor_GetReadStatus(device, id);
        if (*status != VANTOR_TRANSFER_STARTED || *key_pressed) {
            return;
        }
        if (scripted && std::chrono::steady_clock::now() >= give_up) {
            *key_pressed = true;
            return;
        }
    }
}

SingleKeyMode::SingleKeyMode() { INITIALISE_KEY_PRESS(); }

SingleKeyMode::~SingleKeyMode() { STOP_RECEIVING_KEY_PRESSES(); }
