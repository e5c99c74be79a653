#include "dio_card.h"

#include <cstring>
#include <new>

namespace dorvel {

namespace {

struct CallName {
    DioCall call;
    const char* name;
};

constexpr CallName kNames[] = {
    {DioCall::BoardInit, "board initialisation"},
    {DioCall::Version, "Get_NI_DAQ_Version"},
    {DioCall::PortConfig, "DIG_Prt_Config"},
    {DioCall::LineConfig, "DIG_Line_Config"},
    {DioCall::PortOut, "DIG_Out_Prt"},
    {DioCall::GroupConfig, "DIG_Grp_Config"},
    {DioCall::GroupMode, "DIG_Grp_Mode"},
    {DioCall::DeviceInfo, "Set_DAQ_Device_Info"},
    {DioCall::BlockIn, "DIG_Block_In"},
    {DioCall::BlockOut, "DIG_Block_Out"},
    {DioCall::BlockCheck, "DIG_Block_Check"},
    {DioCall::BlockClear, "DIG_Block_Clear"},
    {DioCall::LineOut, "DIG_Out_Line"},
    {DioCall::LineIn, "DIG_In_Line"},
};

} // namespace

const char* dioCallName(DioCall call)
{
    for (const CallName& n : kNames)
        if (n.call == call)
            return n.name;
    return "unknown call";
}

bool dioCallByName(const char* name, DioCall* call)
{
    for (const CallName& n : kNames)
        if (name && std::strcmp(n.name, name) == 0) {
            *call = n.call;
            return true;
        }
    return false;
}

uint16_t* DioCard::allocateBuffer(size_t words)
{
    return new (std::nothrow) uint16_t[words];
}

void DioCard::releaseBuffer(uint16_t* buffer)
{
    delete[] buffer;
}

} // namespace dorvel
