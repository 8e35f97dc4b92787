/** @file zel_api.h - what the C interface of the device libraries promises a C++
 * caller: no function of it throws. C callers see nothing of this. */
#ifndef ZEL_API_H
#define ZEL_API_H

#ifdef __cplusplus
#define ZEL_NOEXCEPT noexcept
#else
#define ZEL_NOEXCEPT
#endif

#endif
