#include "engine/BiquadFilter.h"
#include <cstring>
CBiquadFilter::CBiquadFilter() { std::strcpy(m_szError, "No error"); m_bError = 0; }
CBiquadFilter::~CBiquadFilter() {}
void CBiquadFilter::Design(const char*, int32_t, int32_t) {}
float CBiquadFilter::Process(float x) { return x; }
void CBiquadFilter::DesignLowPass() {}
