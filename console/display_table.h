// Which picture and which button captions show each motion state.
#pragma once

#include <array>
#include <cstdint>

namespace varnel {

struct DisplayRow {
    int16_t giro;
    int16_t rampa;
    const char* picture;   // appended to the program's directory
    const char* command3;  // turn left
    const char* command4;  // turn right
    const char* command1;  // raise the ramp
    const char* command2;  // lower the ramp
};

inline constexpr std::array<DisplayRow, 9> kDisplayTable{{
    {17, 0, "\\izq.jpg", "Parar Giro", "Girar Derecha", "Subir Rampa", "Bajar Rampa"},
    {17, 34, "\\izqarr.jpg", "Parar Giro", "Girar Derecha", "Parar Rampa", "Bajar Rampa"},
    {17, 2, "\\izqabj.jpg", "Parar Giro", "Girar Derecha", "Subir Rampa", "Parar Rampa"},
    {1, 0, "\\dcha.jpg", "Girar Izquierda", "Parar Giro", "Subir Rampa", "Bajar Rampa"},
    {1, 34, "\\dchaarr.jpg", "Girar Izquierda", "Parar Giro", "Parar Rampa", "Bajar Rampa"},
    {1, 2, "\\dchaabj.jpg", "Girar Izquierda", "Parar Giro", "Subir Rampa", "Parar Rampa"},
    {0, 34, "\\arr.jpg", "Girar Izquierda", "Girar Derecha", "Parar Rampa", "Bajar Rampa"},
    {0, 2, "\\abj.jpg", "Girar Izquierda", "Girar Derecha", "Subir Rampa", "Parar Rampa"},
    {0, 0, "\\torre.jpg", "Girar Izquierda", "Girar Derecha", "Subir Rampa", "Bajar Rampa"},
}};

// The first row for the pair, or nullptr when the pair is in no row.
inline const DisplayRow* findDisplayRow(int16_t giro, int16_t rampa) {
    for (const DisplayRow& row : kDisplayTable)
        if (row.giro == giro && row.rampa == rampa) return &row;
    return nullptr;
}

}  // namespace varnel
