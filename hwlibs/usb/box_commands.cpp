#include "box_commands.h"

#include <cstdio>

namespace usb {

const BoxCommand kBoxCommands[] = {
    {'_', 0, 0, "Global reset"},
    {'i', -1, 0, "Version info"},
    {'?', -1, 0, "Command list"},
    {'|', -5, 0, "Chipboard ID"},
    {' ', 36, 0, "Synchronisation packet"},
    {'+', 0, 0, "Set trigger-out"},
    {'-', 0, 0, "Reset trigger-out"},
    {'*', 0, 0, "Invert trigger-out"},
    {'r', 0, 0, "Reset Tarvik"},
    {'R', 0, 0, "Reset Tarvik, Set default CMOS"},
    {'S', 0, -2, "Set matrix"},
    {'E', 0, 0, "Set default matrix (0xffff)"},
    {'e', 0, 0, "Erase matrix"},
    {'m', -3, 0, "Read matrix"},
    {'f', -1, 0, "FSR test"},
    {'d', 2, 33, "Set Tarvik DACs"},
    {'o', 0, 0, "Open shutter, interval measure init"},
    {'c', 0, 0, "Close shutter, interval measure stop"},
    {'C', -3, 0, "Close shutter, interval measure stop, read matrix"},
    {'%', 6, 0, "Interval measure"},
    {'0', 0, 0, "Select FSR0"},
    {'1', 0, 0, "Select FSR1"},
    {'p', 0, 0, "Negative polarity"},
    {'P', 0, 0, "Positive polarity"},
    {'n', 1, 0, "CMOS settings"},
    {'O', -3, 3, "Generate test pulses, read matrix"},
    {'#', 1, 0, "Get mumber of tarvik chips"},
    {'3', 0, 1, "Set Sarnet clock"},
    {'x', 0, 0, "Tarvik power ON"},
    {'X', 0, 0, "Tarvik power OFF"},
    {'b', 0, 1, "Set bias voltage"},
    {'B', 0, 0, "Reset bias voltage"},
    {'M', 26, 0, "ADC monitor"},
    {'a', 0, 0, "Single shot scope"},
    {'A', 0, 4, "Scope configure"},
    {'$', -4, 0, "Scope data"},
    {'>', 0, 3, "Set interface DAC"},
    {'y', 0, 0, "Reset and start interval timer"},
    {'H', 0, 0, "Reload and start interval timer"},
    {'Y', 0, 0, "Stop interval timer"},
    {'Z', 0, 7, "Setup interval timer"},
    {'z', 14, 0, "State of interval timer"},
    {'g', 0, 0, "Run single interval exposition"},
    {';', 0, 7, "Setup interval and run single interval exposition"},
    {'h', 0, 0, "Run multiple interval exposition"},
    {'G', 0, 0, "Abort exposition"},
    {'u', 0, 0, "Reload and start period timer"},
    {'U', 0, 0, "Stop period timer"},
    {'V', 0, 7, "Setup period timer"},
    {'v', 14, 0, "State of period timer"},
    {'&', 0, 0, "Run periodical interval exposition"},
    {'j', 0, 0, "Reload and start counter"},
    {'J', 0, 0, "Stop counter"},
    {'K', 0, 7, "Setup counter"},
    {'k', 14, 0, "State of counter"},
    {'l', 0, 0, "Start waiting for trigger"},
    {'L', 0, 0, "Stop waiting for trigger"},
    {'Q', 0, 1, "Setup trigger"},
    {'q', 7, 0, "State of trigger"},
    {'<', 0, 2, "Coincidence mode setup"},
    {'/', 0, 3, "Pre-action delay"},
    {'@', 0, 0, "Reload frame counter"},
    {'(', 0, 5, "Setup frame counter"},
    {')', 9, 0, "State of frame counter"},
    {'W', 0, 2, "Set TODO commands"},
    {'w', 2, 0, "Get TODO commands"},
    {'~', 0, 1, "Make ToDo mask"},
    {',', -1, 0, "Watchdog test"},
    {' ', -1, 0, "Synchronisation"},
    {'.', 0, 0, "Oscilating shutter"},
    {'=', 0, 0, "Periodic erase, waiting for trigger"},
    {0, 0, 0, nullptr},
};

const char* errorTypeName(int type)
{
    static const char* const kNames[] = {"No error",
                                         "Message",
                                         "General error",
                                         "Bad device handle",
                                         "Transmission failed",
                                         "Device is not responding",
                                         "Bad parameter",
                                         "Error reported by device",
                                         "Reset reported by device",
                                         "Bad response of the device",
                                         "Fatal error",
                                         "Timeout error",
                                         "Unsupported operation"};
    if (type < 0 || type > kUnsupported)
        return "Unknown error type";
    return kNames[type];
}

const BoxCommand* findCommand(uint8_t code)
{
    for (const BoxCommand* c = kBoxCommands; c->name; ++c)
        if (c->code == code)
            return c;
    return nullptr;
}

std::string commandName(uint8_t code)
{
    if (const BoxCommand* c = findCommand(code))
        return c->name;
    char text[32];
    if (code <= 0x20 || code >= 0x80)
        std::snprintf(text, sizeof text, "Unknown command [0x%02x]", code);
    else
        std::snprintf(text, sizeof text, "Unknown command [%c]", code);
    return text;
}

int replyKindOf(uint8_t code)
{
    const BoxCommand* c = findCommand(code);
    return c ? c->replyKind : kNoSuchCommand;
}

} // namespace usb
