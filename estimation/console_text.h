// The console texts of a run, as the GBK (code page 936) bytes the program
// writes unconverted. Each is given in UTF-8 beside it; read a listing on a
// UTF-8 terminal through `iconv -f GBK -t UTF-8`.
#ifndef SEVENPARAM_ESTIMATION_CONSOLE_TEXT_H
#define SEVENPARAM_ESTIMATION_CONSOLE_TEXT_H

namespace sevenparam::console_text {

// "七参数输出: " (seven-parameter output), heading of the final parameters.
inline constexpr char parameters_heading[] = "\xC6\xDF\xB2\xCE\xCA\xFD\xCA\xE4\xB3\xF6\x3A\x20";
// "模型预测结果: " (model prediction result), before the transformed test points.
inline constexpr char prediction_result[] =
    "\xC4\xA3\xD0\xCD\xD4\xA4\xB2\xE2\xBD\xE1\xB9\xFB\x3A\x20";
// "单位权中误差: " (unit-weight standard error), before sigma0.
inline constexpr char unit_weight_error[] =
    "\xB5\xA5\xCE\xBB\xC8\xA8\xD6\xD0\xCE\xF3\xB2\xEE\x3A\x20";
// "参数中误差:" (standard errors of the parameters), before the sigmax listing.
inline constexpr char parameter_errors[] = "\xB2\xCE\xCA\xFD\xD6\xD0\xCE\xF3\xB2\xEE\x3A";
// "消耗时间: " (elapsed time), before the seconds.
inline constexpr char elapsed_time[] = "\xCF\xFB\xBA\xC4\xCA\xB1\xBC\xE4\x3A\x20";

} // namespace sevenparam::console_text

#endif
