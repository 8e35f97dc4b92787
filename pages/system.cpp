// system.cpp - system.cgi: the network data that the device service reports
// through the runtime update record (DHCP address data and lease dates) and
// the device clock, which the page sets from the browser's clock.
//   GET                   the page
//   GET  do=info          DHCP data, lease dates and clock, as JSON
//   GET  do=clock         the clock alone (the page polls it)
//   POST do=setclock&ts=N asks the service to set its clock to N
#include <cstdint>

#include "cgi_cfg_util.h"
#include "cgi_request.h"
#include "device_page.h"

const int page::required_level = 0;  // administrators only: the clock stamps every recording

namespace {

// The device clock as the time record holds it, seconds since 1970.
uint32_t device_clock(const page::Device& dev)
{
    system_time_date_setting t;
    rw_system_time_date_setting(0, dev.cfg, dev.semid, &t);
    return t.current_time;
}

void address(page::Json& out, const char* key, uint32_t addr)
{
    char text[80];
    convertItoIP(text, static_cast<int>(addr));
    out.str(key, text);
}

void write_info(const page::Device& dev)
{
    cfg_rt_update_data net, lease;
    const int net_rc = get_dhcp_setting(dev.cfg, dev.semid, dev.msgid, &net);
    const int lease_rc = get_dhcp_release(dev.cfg, dev.semid, dev.msgid, &lease);
    page::Json out;
    out.num("clock", device_clock(dev));
    out.open("dhcp", '{').num("answered", net_rc == 0);
    address(out, "ip_addr", net.ip_addr);
    address(out, "subnet_mask", net.subnet_mask);
    address(out, "gateway", net.gateway);
    address(out, "primary_dns", net.primary_dns);
    address(out, "secondary_dns", net.secondary_dns);
    out.close('}');
    out.open("lease", '{').num("answered", lease_rc == 0);
    out.num("updated", lease.dhcp_update_date).num("expires", lease.dhcp_lease_exp).close('}');
}

void write_page()
{
    page::begin("System", "system.js");
    fputs(
        "<section><h2>Device clock</h2>\n"
        "<p>Device: <span id=\"device-clock\" class=\"mono\"></span> UTC<br>\n"
        "Browser: <span id=\"browser-clock\" class=\"mono\"></span> UTC</p>\n"
        "<button id=\"setclock\" type=\"button\">Set the device clock from this browser</button>\n"
        "<p id=\"clock-note\" class=\"note\"></p></section>\n"
        "<section><h2>Network (DHCP)</h2>\n<table id=\"dhcp\" class=\"grid\"></table>\n"
        "<p id=\"dhcp-note\" class=\"note\"></p></section>\n",
        cgiOut);
    page::end();
}

}  // namespace

int cgiMain(void)
{
    const page::Device& dev = page::device();
    if (page::action_is("info")) {
        write_info(dev);
    } else if (page::action_is("clock")) {
        page::Json().num("clock", device_clock(dev));
    } else if (page::action_is("setclock") && cgiStrEqNc(cgiRequestMethod, "POST")) {
        const uint32_t ts = page::form_u32("ts", 0);
        const int rc = ts != 0 ? set_system_time(dev.cfg, dev.semid, dev.msgid, ts) : -1;
        page::Json().num("sent", rc == 0).num("ts", ts);
    } else {
        write_page();
    }
    return 0;
}
