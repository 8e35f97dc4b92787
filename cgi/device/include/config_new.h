/** @file config_new.h - the configuration record dvr_config at offset 0 of the
 * configuration segment and every record nested in it. Shared with the
 * device core service: offsets, widths and gaps are a fixed format, integers
 * are in native byte order. Gaps are spelled out as gapNN members (NN = their
 * offset) so the layout does not depend on the ABI's alignment rules; they
 * carry no meaning and are copied with the record.
 * Lock: every field lives in the shared segment and is guarded by semaphore 0
 * of the device semaphore set (taken by the accessors of cgi_cfg_access.h). */
#ifndef CONFIG_NEW_H
#define CONFIG_NEW_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Table sizes of the configuration. */
enum {
    CFG_MAX_USERS = 25,
    CFG_MAX_ANALOG_CAMERAS = 16,
    CFG_MAX_IP_CAMERAS = 4,
    CFG_MAX_SCHEDULES = 256,
    CFG_MAX_MACRO_KEYS = 16,
    CFG_MAX_LOCAL_ALARMS = 16,
    CFG_MAX_IP_ALARMS = 4,
    CFG_MAX_ALARM_GROUPS = 5,
    CFG_MAX_PTZ_PRESETS = 4,
    CFG_MAX_DISKS = 8
};

/** On-screen display flags, 11 bytes. */
typedef struct display_setting {
    uint8_t current_timedate;    /**< show the current date and time */
    uint8_t speed;               /**< show the playback speed */
    uint8_t playback_timedate;   /**< show the playback date and time */
    uint8_t camera_titles;       /**< show camera titles */
    uint8_t text_insertion;      /**< text insertion mode */
    uint8_t text_timeout;        /**< text insertion timeout */
    uint8_t current_timedate_B;  /**< as current_timedate, second monitor */
    uint8_t speed_B;             /**< as speed, second monitor */
    uint8_t playback_timedate_B; /**< as playback_timedate, second monitor */
    uint8_t camera_titles_B;     /**< as camera_titles, second monitor */
    uint8_t image_stabilization; /**< image stabilisation on the display */
} display_setting;

/** One user of the user table, 26 bytes. */
typedef struct user_setting {
    char username[13];    /**< user name; compared over its first 12 bytes */
    char password[9];     /**< password text */
    uint16_t timeout;     /**< session timeout */
    uint8_t access_level; /**< level returned by getUserLevel; lower is more privileged */
    uint8_t enable;       /**< the record is looked up only when this is exactly 1 */
} user_setting;

/** One analog camera, 88 bytes. */
typedef struct analog_camera_setting {
    uint8_t enable;                /**< camera in use */
    uint8_t liveStream_quality;    /**< live stream quality */
    uint8_t liveStream_resolution; /**< live stream resolution */
    uint8_t quality;               /**< recording quality */
    uint8_t resolution;            /**< recording resolution */
    uint8_t record_mode;           /**< recording mode */
    uint8_t covert;                /**< covert flag, read by the viewer handler */
    uint8_t low_latency_mode;      /**< low-latency live mode */
    uint8_t audio;                 /**< audio channel */
    uint8_t image_stabilization;   /**< image stabilisation */
    uint8_t liveStream_rate;       /**< live frame rate */
    uint8_t timelapse_rate;        /**< time-lapse recording rate */
    uint8_t event_rate;            /**< event recording rate */
    uint8_t alarm_rate;            /**< alarm recording rate */
    uint8_t dual;                  /**< dual streaming */
    uint8_t pre_event_duration;    /**< seconds kept before an event */
    uint8_t post_event_duration;   /**< seconds kept after an event */
    uint8_t pre_alarm_duration;    /**< seconds kept before an alarm */
    uint8_t post_alarm_duration;   /**< seconds kept after an alarm */
    uint8_t gap19[1];              /**< alignment gap */
    uint32_t alarm_input;          /**< alarm inputs bound to the camera */
    uint8_t vidloss;               /**< video-loss handling */
    uint8_t protect;               /**< protect recordings */
    uint8_t fullscreen_alarm;      /**< full screen on alarm */
    uint8_t alarm_indicator;       /**< alarm indicator */
    uint8_t motion_detection;      /**< motion detection on */
    uint8_t motion_indicator;      /**< motion indicator */
    uint8_t sensitivity;           /**< motion sensitivity */
    uint8_t target_size;           /**< motion target size */
    uint8_t rejection;             /**< motion rejection */
    uint8_t gap33[1];              /**< alignment gap */
    uint16_t grid[16];             /**< motion grid rows */
    char title[16];                /**< camera title */
    uint8_t brightness;            /**< picture brightness */
    uint8_t contrast;              /**< picture contrast */
    uint8_t saturation;            /**< picture saturation */
    uint8_t agc;                   /**< automatic gain control */
    uint8_t gap86[2];              /**< alignment gap */
} analog_camera_setting;

/** One IP camera, 40 bytes. */
typedef struct ip_camera_setting {
    uint8_t enable;              /**< camera in use */
    uint8_t gap1[3];             /**< alignment gap */
    uint32_t ip_addr;            /**< camera IPv4 address */
    uint8_t record_mode;         /**< recording mode */
    uint8_t covert;              /**< covert flag, read by the viewer handler */
    uint8_t pre_event_duration;  /**< seconds kept before an event */
    uint8_t post_event_duration; /**< seconds kept after an event */
    uint8_t pre_alarm_duration;  /**< seconds kept before an alarm */
    uint8_t post_alarm_duration; /**< seconds kept after an alarm */
    uint8_t gap14[2];            /**< alignment gap */
    uint32_t alarm_input;        /**< alarm inputs bound to the camera */
    uint8_t vidloss;             /**< video-loss handling */
    uint8_t protect;             /**< protect recordings */
    uint8_t fullscreen_alarm;    /**< full screen on alarm */
    uint8_t alarm_indicator;     /**< alarm indicator */
    char title[16];              /**< camera title */
} ip_camera_setting;

/** Media connection of an IP camera of the first family, 148 bytes. */
typedef struct vidar_media_connection_config {
    char user_name[64];            /**< camera login name */
    char password[64];             /**< camera login password */
    uint8_t streaming_method;      /**< streaming method */
    uint8_t channel_number;        /**< channel on the camera */
    uint16_t video_control_port;   /**< video control port */
    uint16_t video_streaming_port; /**< video streaming port */
    uint16_t http_port;            /**< camera web port */
    uint16_t video_multicast_port; /**< video multicast port */
    uint16_t audio_multicast_port; /**< audio multicast port */
    uint16_t rtsp_port;            /**< RTSP port */
    uint8_t gap142[2];             /**< alignment gap */
    uint32_t multicast_ip;         /**< multicast IPv4 address */
} vidar_media_connection_config;

/** Media settings of an IP camera of the second family, 96 bytes. */
typedef struct vidarII_media_config {
    char adminName[33];       /**< camera administrator name */
    char adminPassword[33];   /**< camera administrator password */
    uint8_t transmissionType; /**< transmission type */
    uint8_t gap67[1];         /**< alignment gap */
    uint32_t httpport;        /**< camera web port */
    uint8_t bitrate;          /**< stream bit rate */
    uint8_t resolution;       /**< stream resolution */
    uint8_t frameQuality;     /**< frame quality */
    uint8_t ivop;             /**< key frame interval */
    uint8_t audioEnable;      /**< audio on */
    uint8_t gap77[3];         /**< alignment gap */
    uint32_t unicast_port;    /**< unicast port */
    uint32_t muticast_ipaddr; /**< multicast IPv4 address */
    uint32_t multicast_port;  /**< multicast port */
    uint32_t multicast_ttl;   /**< multicast time to live */
} vidarII_media_config;

/** All cameras, 2548 bytes. */
typedef struct camera_setting {
    analog_camera_setting local[CFG_MAX_ANALOG_CAMERAS]; /**< analog cameras */
    ip_camera_setting ip[CFG_MAX_IP_CAMERAS];            /**< IP cameras */
    uint8_t ip_camera_type[CFG_MAX_IP_CAMERAS];          /**< family of each IP camera */
    vidar_media_connection_config vidar_setting[CFG_MAX_IP_CAMERAS]; /**< first family */
    vidarII_media_config vidarII_setting[CFG_MAX_IP_CAMERAS];        /**< second family */
} camera_setting;

/** One schedule entry, 14 bytes. */
typedef struct schedule_entry_setting {
    uint8_t created;          /**< entry in use */
    uint8_t enable;           /**< entry active */
    uint16_t macro;           /**< macro run by the entry */
    uint8_t hour;             /**< start hour */
    uint8_t min;              /**< start minute */
    uint8_t stop_hour;        /**< stop hour */
    uint8_t stop_min;         /**< stop minute */
    uint16_t frequency;       /**< repetition */
    uint8_t specific_date_yy; /**< specific date: year */
    uint8_t specific_date_mm; /**< specific date: month */
    uint8_t specific_date_dd; /**< specific date: day */
    uint8_t gap13[1];         /**< alignment gap */
} schedule_entry_setting;

/** Front-panel macro keys, 32 bytes. */
typedef struct frontpanel_setting {
    uint16_t marco_key[CFG_MAX_MACRO_KEYS]; /**< macro bound to each key */
} frontpanel_setting;

/** All schedules and the front-panel keys, 3616 bytes. */
typedef struct schedules_setting {
    schedule_entry_setting schedules[CFG_MAX_SCHEDULES]; /**< schedule entries */
    frontpanel_setting frontpanel;                       /**< front-panel macro keys */
} schedules_setting;

/** System events that notify, 8 bytes. */
typedef struct alarm_system_notification_setting {
    uint8_t disk_failure;           /**< notify on disk failure */
    uint8_t disk_full;              /**< notify on disk full */
    uint8_t network_failure;        /**< notify on network failure */
    uint8_t fan_failure;            /**< notify on fan failure */
    uint8_t power_restore;          /**< notify on power restore */
    uint8_t authentication_lockout; /**< notify on login lockout */
    uint8_t protect_full;           /**< notify on protected area full */
    uint8_t relay_follow;           /**< relay follows the notification */
} alarm_system_notification_setting;

/** Silent alarm flags, 2 bytes. */
typedef struct alarm_silent_alarm_setting {
    uint8_t silent_camera_alarm; /**< camera alarms are silent */
    uint8_t silent_system_alarm; /**< system alarms are silent */
} alarm_silent_alarm_setting;

/** One pan-tilt-zoom preset, 4 bytes. */
typedef struct ptz_preset_setting {
    uint8_t enable;  /**< preset in use */
    uint8_t bus;     /**< control bus */
    uint8_t address; /**< device address on the bus */
    uint8_t preset;  /**< preset number */
} ptz_preset_setting;

/** One alarm input/output, 22 bytes. */
typedef struct alarm_io_setting {
    uint8_t input_mode;                                  /**< input mode */
    uint8_t input_type;                                  /**< input type */
    uint8_t timeout;                                     /**< alarm timeout */
    uint8_t macro;                                       /**< macro run on alarm */
    uint8_t action;                                      /**< alarm action */
    ptz_preset_setting ptz_presets[CFG_MAX_PTZ_PRESETS]; /**< presets called on alarm */
    uint8_t key_switch;                                  /**< key switch input */
} alarm_io_setting;

/** One alarm group, 28 bytes. */
typedef struct alarm_group_setting {
    uint32_t input_select;                               /**< inputs of the group */
    uint8_t input_mode;                                  /**< input mode */
    uint8_t input_type;                                  /**< input type */
    uint8_t timeout;                                     /**< alarm timeout */
    uint8_t macro;                                       /**< macro run on alarm */
    uint8_t action;                                      /**< alarm action */
    ptz_preset_setting ptz_presets[CFG_MAX_PTZ_PRESETS]; /**< presets called on alarm */
    uint8_t gap25[3];                                    /**< alignment gap */
} alarm_group_setting;

/** All alarms, 592 bytes. */
typedef struct alarm_setting {
    alarm_system_notification_setting system_notification; /**< system events */
    alarm_silent_alarm_setting silent_alarm;               /**< silent alarm flags */
    alarm_io_setting alarm_io_local[CFG_MAX_LOCAL_ALARMS]; /**< local inputs/outputs */
    alarm_io_setting alarm_io_ip[CFG_MAX_IP_ALARMS];       /**< IP-camera inputs/outputs */
    uint8_t gap450[2];                                     /**< alignment gap */
    alarm_group_setting alarm_group[CFG_MAX_ALARM_GROUPS]; /**< alarm groups */
} alarm_setting;

/** Addressing, 112 bytes. */
typedef struct network_ip_setting {
    uint8_t type;              /**< addressing type (fixed, DHCP, PPPoE) */
    uint8_t gap1[3];           /**< alignment gap */
    uint32_t ip_addr;          /**< IPv4 address */
    uint32_t subnet_mask;      /**< subnet mask */
    uint32_t gateway;          /**< default gateway */
    uint32_t primary_dns;      /**< primary name server */
    uint32_t secondary_dns;    /**< secondary name server */
    char pppoe_username[65];   /**< PPPoE user name */
    char pppoe_password[17];   /**< PPPoE password */
    char ethernet_password[5]; /**< connection passcode; its first 4 bytes go into the viewer pages
                                */
    uint8_t gap111[1];         /**< alignment gap */
} network_ip_setting;

/** Ports and streaming, 28 bytes. */
typedef struct network_advanced_setting {
    uint16_t tcp_mtu_size;          /**< TCP MTU */
    uint16_t bandwidth_limit;       /**< bandwidth limit */
    uint16_t tcp_control_port;      /**< control port, written into the viewer pages */
    uint16_t listen_port;           /**< connection port, written into the viewer pages */
    uint8_t streaming_protocol;     /**< streaming protocol */
    uint8_t gap9[3];                /**< alignment gap */
    uint32_t receiver_ip_addr;      /**< stream receiver IPv4 address */
    uint16_t streaming_port;        /**< streaming port */
    uint8_t sender_control;         /**< sender control on */
    uint8_t gap19[1];               /**< alignment gap */
    uint16_t sender_control_port;   /**< sender control port */
    uint8_t receiver_control;       /**< receiver control on */
    uint8_t gap23[1];               /**< alignment gap */
    uint16_t receiver_control_port; /**< receiver control port */
    uint8_t gap26[2];               /**< alignment gap */
} network_advanced_setting;

/** Address filter, 76 bytes. */
typedef struct network_ip_filter_setting {
    uint8_t ip_filtering;         /**< filter mode */
    uint8_t gap1[3];              /**< alignment gap */
    uint32_t allow_address1;      /**< allowed address 1 */
    uint32_t allow_address2;      /**< allowed address 2 */
    uint32_t allow_address3;      /**< allowed address 3 */
    uint32_t allow_range1_start;  /**< allowed range 1, first address */
    uint32_t allow_range1_finish; /**< allowed range 1, last address */
    uint32_t allow_range2_start;  /**< allowed range 2, first address */
    uint32_t allow_range2_finish; /**< allowed range 2, last address */
    uint32_t allow_range3_start;  /**< allowed range 3, first address */
    uint32_t allow_range3_finish; /**< allowed range 3, last address */
    uint32_t deny_address1;       /**< denied address 1 */
    uint32_t deny_address2;       /**< denied address 2 */
    uint32_t deny_address3;       /**< denied address 3 */
    uint32_t deny_range1_start;   /**< denied range 1, first address */
    uint32_t deny_range1_finish;  /**< denied range 1, last address */
    uint32_t deny_range2_start;   /**< denied range 2, first address */
    uint32_t deny_range2_finish;  /**< denied range 2, last address */
    uint32_t deny_range3_start;   /**< denied range 3, first address */
    uint32_t deny_range3_finish;  /**< denied range 3, last address */
} network_ip_filter_setting;

/** Network services, 564 bytes. */
typedef struct network_service_setting {
    uint16_t http_port;            /**< web server port */
    uint8_t gap2[2];               /**< alignment gap */
    uint32_t ntp_primary_server;   /**< primary time server */
    uint32_t ntp_secondary_server; /**< secondary time server */
    uint8_t ntp_update_interval;   /**< time update interval */
    uint8_t snmp;                  /**< SNMP on */
    uint8_t name_service;          /**< dynamic name service in use */
    char ddns_username[33];        /**< DDNS user name */
    char ddns_password[17];        /**< DDNS password */
    char ddns_domain_name[65];     /**< DDNS domain */
    char tzo_email[65];            /**< TZO account e-mail */
    char tzo_key[17];              /**< TZO key */
    char tzo_domain[65];           /**< TZO domain */
    char gnudip_username[33];      /**< GnuDIP user name */
    char gnudip_password[17];      /**< GnuDIP password */
    char gnudip_server_addr[65];   /**< GnuDIP server */
    char gnudip_domain_name[65];   /**< GnuDIP domain */
    char wins_device_name[33];     /**< WINS device name */
    uint8_t gap490[2];             /**< alignment gap */
    uint32_t wins_server;          /**< WINS server */
    char disabled_domain_name[65]; /**< domain when no service is used */
    uint8_t gap561[3];             /**< alignment gap */
} network_service_setting;

/** Direct streaming, 8 bytes. */
typedef struct network_streaming_setting {
    uint8_t direct_stream; /**< direct streaming on */
    uint8_t camera;        /**< streamed camera */
    uint8_t gap2[2];       /**< alignment gap */
    uint32_t ip_addr;      /**< receiver IPv4 address */
} network_streaming_setting;

/** Serial pass-through, 12 bytes. */
typedef struct network_serial_pass_setting {
    uint8_t enable;         /**< pass-through on */
    uint8_t mode;           /**< pass-through mode */
    uint8_t gap2[2];        /**< alignment gap */
    uint32_t remote_ipaddr; /**< remote IPv4 address */
    uint16_t port;          /**< remote port */
    uint8_t serial_port;    /**< local serial port */
    uint8_t autoconnect;    /**< connect at start-up */
} network_serial_pass_setting;

/** Events that send e-mail, 7 bytes. */
typedef struct network_notification_setting {
    uint8_t record;      /**< on recording */
    uint8_t archive;     /**< on archiving */
    uint8_t menu_access; /**< on menu access */
    uint8_t power_up;    /**< on power-up */
    uint8_t connection;  /**< on connection */
    uint8_t alarm;       /**< on alarm */
    uint8_t vidloss;     /**< on video loss */
} network_notification_setting;

/** E-mail set-up, 538 bytes. */
typedef struct network_email_setting {
    char email_addr1[129];       /**< recipient 1 */
    char email_addr2[129];       /**< recipient 2 */
    char email_addr3[129];       /**< recipient 3 */
    char smtp_server[65];        /**< SMTP server */
    uint16_t smtp_port;          /**< SMTP port */
    uint8_t smtp_authentication; /**< SMTP authentication on */
    char smtp_username[65];      /**< SMTP user name */
    char smtp_password[17];      /**< SMTP password */
    uint8_t smtp_ssl;            /**< SMTP over SSL */
} network_email_setting;

/** Dial-out, 12 bytes. */
typedef struct network_dialout_setting {
    uint32_t primary_server_ip_addr; /**< primary server IPv4 address */
    uint32_t backup_server_ip_addr;  /**< backup server IPv4 address */
    uint16_t port;                   /**< server port */
    uint8_t minutes;                 /**< dial-out period */
    uint8_t gap11[1];                /**< alignment gap */
} network_dialout_setting;

/** All network settings, 1360 bytes. */
typedef struct network_setting {
    network_ip_setting ip_settings;                  /**< addressing */
    network_advanced_setting ip_advanced;            /**< ports and streaming */
    network_ip_filter_setting ip_filter;             /**< address filter */
    network_service_setting services;                /**< network services */
    network_streaming_setting streaming;             /**< direct streaming */
    network_serial_pass_setting serial_pass;         /**< serial pass-through */
    network_notification_setting email_notification; /**< events that send e-mail */
    uint8_t gap807[1];                               /**< alignment gap */
    network_email_setting email_setup;               /**< e-mail set-up */
    uint8_t gap1346[2];                              /**< alignment gap */
    network_dialout_setting dialout_setup;           /**< dial-out */
} network_setting;

/** Front-panel behaviour, 8 bytes. */
typedef struct system_front_panel_setting {
    uint8_t sequencing_dwell_a;     /**< sequence dwell, monitor A */
    uint8_t sequencing_dwell_b;     /**< sequence dwell, monitor B */
    uint16_t instant_replay;        /**< instant replay length */
    uint8_t panel_keytone;          /**< key tone on */
    uint8_t panel_lighting_timeout; /**< panel light timeout */
    uint8_t all_light_off;          /**< all lights off */
    uint8_t remote_ctrl_id;         /**< remote control id */
} system_front_panel_setting;

/** Audio output, 1 byte. */
typedef struct system_audio_setting {
    uint8_t audio_output; /**< audio output source */
} system_audio_setting;

/** Clock and date display, 24 bytes. */
typedef struct system_time_date_setting {
    uint32_t current_time;   /**< device clock */
    uint8_t time_format;     /**< 0: 24-hour clock, 1: 12-hour clock with AM/PM */
    uint8_t timezone;        /**< time zone */
    uint8_t date_format;     /**< 0: month/day/year, 1: day/month/year, 2: year/month/day */
    uint8_t daylight_saving; /**< daylight saving on */
    uint8_t dl_smonth;       /**< daylight saving start: month */
    uint8_t dl_sweekno;      /**< daylight saving start: week */
    uint8_t dl_sweekday;     /**< daylight saving start: weekday */
    uint8_t dl_sfrhour;      /**< daylight saving start: from hour */
    uint8_t dl_sfrmin;       /**< daylight saving start: from minute */
    uint8_t dl_stohour;      /**< daylight saving start: to hour */
    uint8_t dl_stomin;       /**< daylight saving start: to minute */
    uint8_t dl_emonth;       /**< daylight saving end: month */
    uint8_t dl_eweekno;      /**< daylight saving end: week */
    uint8_t dl_eweekday;     /**< daylight saving end: weekday */
    uint8_t dl_efrhour;      /**< daylight saving end: from hour */
    uint8_t dl_efrmin;       /**< daylight saving end: from minute */
    uint8_t dl_etohour;      /**< daylight saving end: to hour */
    uint8_t dl_etomin;       /**< daylight saving end: to minute */
    uint8_t gap22[2];        /**< alignment gap */
} system_time_date_setting;

/** Levels required per function, 18 bytes. */
typedef struct system_security_setting {
    uint8_t front_panel; /**< level for front-panel functions, read by the viewer handler */
    uint8_t macros;      /**< level for macros */
    uint8_t menu;        /**< level for the menu */
    uint8_t search;      /**< level for search */
    uint8_t archive;     /**< level for archiving */
    uint8_t covert;      /**< level that sees covert cameras, read by the viewer handler */
    uint8_t ptz_control; /**< level for PTZ control */
    uint8_t frontpanel_ptz_access; /**< level for front-panel PTZ */
    uint8_t reserve2;              /**< reserved */
    uint8_t reserve3;              /**< reserved */
    uint8_t reserve4;              /**< reserved */
    uint8_t gap11[1];              /**< alignment gap */
    uint16_t operator_timeout;     /**< operator session timeout */
    uint16_t manager_timeout;      /**< manager session timeout */
    uint16_t admin_timeout;        /**< administrator session timeout */
} system_security_setting;

/** Language, 2 bytes. */
typedef struct system_language_setting {
    uint8_t language; /**< interface language */
    uint8_t currency; /**< currency */
} system_language_setting;

/** Disk use, 8 bytes. */
typedef struct system_disk_setting {
    uint8_t disk_overwrite;         /**< overwrite when full */
    uint8_t gap1[1];                /**< alignment gap */
    uint16_t auto_delete_mode;      /**< automatic deletion */
    uint8_t max_protection_percent; /**< largest protected share */
    uint8_t protection_notify;      /**< notify on protection */
    uint8_t disk_full_alart;        /**< alarm on disk full */
    uint8_t raid1_mirror_enable;    /**< mirroring on */
} system_disk_setting;

/** Serial buses, 18 bytes. */
typedef struct system_serial_setting {
    uint8_t bus_1_type;        /**< bus 1 type */
    uint8_t b1_protocol;       /**< bus 1 protocol */
    uint8_t b1_baudrate;       /**< bus 1 baud rate */
    uint8_t b1_address;        /**< bus 1 address */
    uint8_t bus_2_type;        /**< bus 2 type */
    uint8_t b2_protocol;       /**< bus 2 protocol */
    uint8_t b2_baudrate;       /**< bus 2 baud rate */
    uint8_t b2_address;        /**< bus 2 address */
    uint8_t rs232_protocol;    /**< RS-232 protocol */
    uint8_t rs232_baudrate;    /**< RS-232 baud rate */
    uint8_t rs232_databits;    /**< RS-232 data bits */
    uint8_t rs232_parity;      /**< RS-232 parity */
    uint8_t rs232_stop;        /**< RS-232 stop bits */
    uint8_t rs232_flowcontrol; /**< RS-232 flow control */
    uint8_t utc_protocol;      /**< coaxial control protocol */
    uint8_t gap15[1];          /**< alignment gap */
    uint16_t utc_camera_onoff; /**< coaxial control per camera */
} system_serial_setting;

/** All system settings, 84 bytes. */
typedef struct system_setting {
    system_front_panel_setting front_panel; /**< front-panel behaviour */
    system_audio_setting audio;             /**< audio output */
    uint8_t gap9[3];                        /**< alignment gap */
    system_time_date_setting time_date;     /**< clock and date display */
    system_security_setting security;       /**< levels per function */
    system_language_setting language;       /**< language */
    system_disk_setting disk;               /**< disk use */
    system_serial_setting serial;           /**< serial buses */
    uint8_t gap82[2];                       /**< alignment gap */
} system_setting;

/** Device status and identity, 300 bytes; written by the device core service,
 * read only for CGI programs but for `hostname`. */
typedef struct info_setting {
    uint8_t system_health;       /**< overall health */
    uint8_t gap1[1];             /**< alignment gap */
    int16_t system_temp;         /**< system temperature */
    uint8_t disk1_health;        /**< disk 1 health */
    uint8_t gap5[1];             /**< alignment gap */
    int16_t disk1_temp;          /**< disk 1 temperature */
    uint8_t disk2_health;        /**< disk 2 health */
    uint8_t gap9[1];             /**< alignment gap */
    int16_t disk2_temp;          /**< disk 2 temperature */
    uint8_t disk3_health;        /**< disk 3 health */
    uint8_t gap13[1];            /**< alignment gap */
    int16_t disk3_temp;          /**< disk 3 temperature */
    uint8_t disk4_health;        /**< disk 4 health */
    uint8_t gap17[1];            /**< alignment gap */
    int16_t disk4_temp;          /**< disk 4 temperature */
    uint8_t disk5_health;        /**< disk 5 health */
    uint8_t gap21[1];            /**< alignment gap */
    int16_t disk5_temp;          /**< disk 5 temperature */
    uint8_t disk6_health;        /**< disk 6 health */
    uint8_t gap25[1];            /**< alignment gap */
    int16_t disk6_temp;          /**< disk 6 temperature */
    uint8_t disk7_health;        /**< disk 7 health */
    uint8_t gap29[1];            /**< alignment gap */
    int16_t disk7_temp;          /**< disk 7 temperature */
    uint8_t disk8_health;        /**< disk 8 health */
    uint8_t gap33[1];            /**< alignment gap */
    int16_t disk8_temp;          /**< disk 8 temperature */
    uint8_t fan1_status;         /**< fan 1 status */
    uint8_t fan2_status;         /**< fan 2 status */
    uint8_t fan3_status;         /**< fan 3 status */
    uint8_t fan4_status;         /**< fan 4 status */
    uint8_t fan5_status;         /**< fan 5 status */
    char model[25];              /**< model name */
    char serial_number[25];      /**< serial number */
    char hostname[65];           /**< host name, the only writable field */
    char software_version[21];   /**< software version */
    uint8_t gap177[3];           /**< alignment gap */
    uint32_t software_date;      /**< software build date */
    char bootcode_version[21];   /**< boot code version */
    char fpga_version[21];       /**< FPGA version */
    char zelPlayer_version[21];  /**< player version */
    uint8_t gap247[1];           /**< alignment gap */
    uint32_t disk_size;          /**< disk capacity */
    uint32_t day_stored;         /**< days of recordings stored */
    uint32_t rec_start_time;     /**< first recording */
    uint32_t rec_end_time;       /**< last recording */
    uint32_t ip_address;         /**< current IPv4 address */
    char mac_address[13];        /**< hardware address as text */
    uint8_t gap281[3];           /**< alignment gap */
    uint32_t dhcp_lease_exp;     /**< DHCP lease expiry */
    uint8_t ddns_update_status;  /**< DDNS update status */
    uint8_t gap289[3];           /**< alignment gap */
    uint32_t dhcp_update_date;   /**< last DHCP update */
    uint8_t max_users_supported; /**< users supported by the model */
    uint8_t gap297[3];           /**< alignment gap */
} info_setting;

/** The whole configuration record at segment offset 0, 9172 bytes. */
typedef struct dvr_config {
    display_setting display;           /**< on-screen display */
    uint8_t gap11[1];                  /**< alignment gap */
    user_setting users[CFG_MAX_USERS]; /**< user table, scanned in index order */
    uint8_t gap662[2];                 /**< alignment gap */
    camera_setting cameras;            /**< cameras */
    schedules_setting schedules;       /**< schedules and front-panel keys */
    alarm_setting alarms;              /**< alarms */
    network_setting network;           /**< network */
    system_setting system;             /**< system */
    info_setting info;                 /**< device status and identity */
    uint32_t marker;                   /**< record marker */
    uint8_t video_sys;                 /**< television format */
    uint8_t checksum;                  /**< record checksum */
    uint8_t gap9170[2];                /**< alignment gap */
} dvr_config;

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define CFG_STATIC_ASSERT static_assert
#else
#define CFG_STATIC_ASSERT _Static_assert
#endif

/** Every record size is part of the shared format. */
CFG_STATIC_ASSERT(sizeof(display_setting) == 11, "display_setting size");
CFG_STATIC_ASSERT(sizeof(user_setting) == 26, "user_setting size");
CFG_STATIC_ASSERT(sizeof(analog_camera_setting) == 88, "analog_camera_setting size");
CFG_STATIC_ASSERT(sizeof(ip_camera_setting) == 40, "ip_camera_setting size");
CFG_STATIC_ASSERT(sizeof(vidar_media_connection_config) == 148, "vidar record size");
CFG_STATIC_ASSERT(sizeof(vidarII_media_config) == 96, "vidarII record size");
CFG_STATIC_ASSERT(sizeof(camera_setting) == 2548, "camera_setting size");
CFG_STATIC_ASSERT(sizeof(schedule_entry_setting) == 14, "schedule_entry_setting size");
CFG_STATIC_ASSERT(sizeof(frontpanel_setting) == 32, "frontpanel_setting size");
CFG_STATIC_ASSERT(sizeof(schedules_setting) == 3616, "schedules_setting size");
CFG_STATIC_ASSERT(sizeof(alarm_system_notification_setting) == 8, "notification size");
CFG_STATIC_ASSERT(sizeof(alarm_silent_alarm_setting) == 2, "silent alarm size");
CFG_STATIC_ASSERT(sizeof(ptz_preset_setting) == 4, "ptz_preset_setting size");
CFG_STATIC_ASSERT(sizeof(alarm_io_setting) == 22, "alarm_io_setting size");
CFG_STATIC_ASSERT(sizeof(alarm_group_setting) == 28, "alarm_group_setting size");
CFG_STATIC_ASSERT(sizeof(alarm_setting) == 592, "alarm_setting size");
CFG_STATIC_ASSERT(sizeof(network_ip_setting) == 112, "network_ip_setting size");
CFG_STATIC_ASSERT(sizeof(network_advanced_setting) == 28, "network_advanced_setting size");
CFG_STATIC_ASSERT(sizeof(network_ip_filter_setting) == 76, "network_ip_filter_setting size");
CFG_STATIC_ASSERT(sizeof(network_service_setting) == 564, "network_service_setting size");
CFG_STATIC_ASSERT(sizeof(network_streaming_setting) == 8, "network_streaming_setting size");
CFG_STATIC_ASSERT(sizeof(network_serial_pass_setting) == 12, "serial pass size");
CFG_STATIC_ASSERT(sizeof(network_notification_setting) == 7, "notification size");
CFG_STATIC_ASSERT(sizeof(network_email_setting) == 538, "network_email_setting size");
CFG_STATIC_ASSERT(sizeof(network_dialout_setting) == 12, "network_dialout_setting size");
CFG_STATIC_ASSERT(sizeof(network_setting) == 1360, "network_setting size");
CFG_STATIC_ASSERT(sizeof(system_front_panel_setting) == 8, "front panel size");
CFG_STATIC_ASSERT(sizeof(system_audio_setting) == 1, "system_audio_setting size");
CFG_STATIC_ASSERT(sizeof(system_time_date_setting) == 24, "time_date size");
CFG_STATIC_ASSERT(sizeof(system_security_setting) == 18, "security size");
CFG_STATIC_ASSERT(sizeof(system_language_setting) == 2, "language size");
CFG_STATIC_ASSERT(sizeof(system_disk_setting) == 8, "disk size");
CFG_STATIC_ASSERT(sizeof(system_serial_setting) == 18, "serial size");
CFG_STATIC_ASSERT(sizeof(system_setting) == 84, "system_setting size");
CFG_STATIC_ASSERT(sizeof(info_setting) == 300, "info_setting size");
CFG_STATIC_ASSERT(sizeof(dvr_config) == 9172, "dvr_config size");

/** Offsets of the fields that the device's programs read. */
CFG_STATIC_ASSERT(offsetof(user_setting, password) == 13, "user password");
CFG_STATIC_ASSERT(offsetof(user_setting, timeout) == 22, "user timeout");
CFG_STATIC_ASSERT(offsetof(user_setting, access_level) == 24, "user access_level");
CFG_STATIC_ASSERT(offsetof(user_setting, enable) == 25, "user enable");
CFG_STATIC_ASSERT(offsetof(analog_camera_setting, covert) == 6, "analog covert");
CFG_STATIC_ASSERT(offsetof(analog_camera_setting, alarm_input) == 20, "analog alarm_input");
CFG_STATIC_ASSERT(offsetof(analog_camera_setting, grid) == 34, "analog grid");
CFG_STATIC_ASSERT(offsetof(analog_camera_setting, title) == 66, "analog title");
CFG_STATIC_ASSERT(offsetof(analog_camera_setting, brightness) == 82, "analog brightness");
CFG_STATIC_ASSERT(offsetof(ip_camera_setting, ip_addr) == 4, "ip camera ip_addr");
CFG_STATIC_ASSERT(offsetof(ip_camera_setting, covert) == 9, "ip camera covert");
CFG_STATIC_ASSERT(offsetof(ip_camera_setting, alarm_input) == 16, "ip camera alarm_input");
CFG_STATIC_ASSERT(offsetof(ip_camera_setting, title) == 24, "ip camera title");
CFG_STATIC_ASSERT(offsetof(vidar_media_connection_config, rtsp_port) == 140, "vidar rtsp");
CFG_STATIC_ASSERT(offsetof(vidar_media_connection_config, multicast_ip) == 144, "vidar mcast");
CFG_STATIC_ASSERT(offsetof(vidarII_media_config, httpport) == 68, "vidarII httpport");
CFG_STATIC_ASSERT(offsetof(vidarII_media_config, unicast_port) == 80, "vidarII unicast");
CFG_STATIC_ASSERT(offsetof(vidarII_media_config, multicast_ttl) == 92, "vidarII ttl");
CFG_STATIC_ASSERT(offsetof(camera_setting, ip) == 1408, "cameras ip");
CFG_STATIC_ASSERT(offsetof(camera_setting, ip_camera_type) == 1568, "cameras ip_camera_type");
CFG_STATIC_ASSERT(offsetof(camera_setting, vidar_setting) == 1572, "cameras vidar_setting");
CFG_STATIC_ASSERT(offsetof(camera_setting, vidarII_setting) == 2164, "cameras vidarII_setting");
CFG_STATIC_ASSERT(offsetof(schedule_entry_setting, frequency) == 8, "schedule frequency");
CFG_STATIC_ASSERT(offsetof(schedules_setting, frontpanel) == 3584, "schedules frontpanel");
CFG_STATIC_ASSERT(offsetof(alarm_io_setting, key_switch) == 21, "alarm io key_switch");
CFG_STATIC_ASSERT(offsetof(alarm_group_setting, ptz_presets) == 9, "alarm group presets");
CFG_STATIC_ASSERT(offsetof(alarm_setting, silent_alarm) == 8, "alarms silent_alarm");
CFG_STATIC_ASSERT(offsetof(alarm_setting, alarm_io_local) == 10, "alarms local");
CFG_STATIC_ASSERT(offsetof(alarm_setting, alarm_io_ip) == 362, "alarms ip");
CFG_STATIC_ASSERT(offsetof(alarm_setting, alarm_group) == 452, "alarms group");
CFG_STATIC_ASSERT(offsetof(network_ip_setting, ip_addr) == 4, "ip_settings ip_addr");
CFG_STATIC_ASSERT(offsetof(network_ip_setting, pppoe_username) == 24, "pppoe_username");
CFG_STATIC_ASSERT(offsetof(network_ip_setting, ethernet_password) == 106, "ethernet_password");
CFG_STATIC_ASSERT(offsetof(network_advanced_setting, tcp_control_port) == 4, "tcp_control_port");
CFG_STATIC_ASSERT(offsetof(network_advanced_setting, listen_port) == 6, "listen_port");
CFG_STATIC_ASSERT(offsetof(network_advanced_setting, receiver_ip_addr) == 12, "receiver ip");
CFG_STATIC_ASSERT(offsetof(network_advanced_setting, receiver_control_port) == 24, "rx ctl port");
CFG_STATIC_ASSERT(offsetof(network_ip_filter_setting, deny_range3_finish) == 72, "filter end");
CFG_STATIC_ASSERT(offsetof(network_service_setting, ddns_username) == 15, "ddns_username");
CFG_STATIC_ASSERT(offsetof(network_service_setting, wins_server) == 492, "wins_server");
CFG_STATIC_ASSERT(offsetof(network_service_setting, disabled_domain_name) == 496,
                  "disabled domain");
CFG_STATIC_ASSERT(offsetof(network_email_setting, smtp_port) == 452, "smtp_port");
CFG_STATIC_ASSERT(offsetof(network_email_setting, smtp_ssl) == 537, "smtp_ssl");
CFG_STATIC_ASSERT(offsetof(network_setting, ip_advanced) == 112, "network ip_advanced");
CFG_STATIC_ASSERT(offsetof(network_setting, ip_filter) == 140, "network ip_filter");
CFG_STATIC_ASSERT(offsetof(network_setting, services) == 216, "network services");
CFG_STATIC_ASSERT(offsetof(network_setting, streaming) == 780, "network streaming");
CFG_STATIC_ASSERT(offsetof(network_setting, serial_pass) == 788, "network serial_pass");
CFG_STATIC_ASSERT(offsetof(network_setting, email_notification) == 800, "network notification");
CFG_STATIC_ASSERT(offsetof(network_setting, email_setup) == 808, "network email_setup");
CFG_STATIC_ASSERT(offsetof(network_setting, dialout_setup) == 1348, "network dialout_setup");
CFG_STATIC_ASSERT(offsetof(system_time_date_setting, time_format) == 4, "time_format");
CFG_STATIC_ASSERT(offsetof(system_time_date_setting, date_format) == 6, "date_format");
CFG_STATIC_ASSERT(offsetof(system_time_date_setting, dl_etomin) == 21, "dl_etomin");
CFG_STATIC_ASSERT(offsetof(system_security_setting, front_panel) == 0, "security front_panel");
CFG_STATIC_ASSERT(offsetof(system_security_setting, covert) == 5, "security covert");
CFG_STATIC_ASSERT(offsetof(system_security_setting, operator_timeout) == 12, "operator_timeout");
CFG_STATIC_ASSERT(offsetof(system_disk_setting, auto_delete_mode) == 2, "auto_delete_mode");
CFG_STATIC_ASSERT(offsetof(system_serial_setting, utc_camera_onoff) == 16, "utc_camera_onoff");
CFG_STATIC_ASSERT(offsetof(system_setting, audio) == 8, "system audio");
CFG_STATIC_ASSERT(offsetof(system_setting, time_date) == 12, "system time_date");
CFG_STATIC_ASSERT(offsetof(system_setting, security) == 36, "system security");
CFG_STATIC_ASSERT(offsetof(system_setting, language) == 54, "system language");
CFG_STATIC_ASSERT(offsetof(system_setting, disk) == 56, "system disk");
CFG_STATIC_ASSERT(offsetof(system_setting, serial) == 64, "system serial");
CFG_STATIC_ASSERT(offsetof(info_setting, disk1_temp) == 6, "info disk1_temp");
CFG_STATIC_ASSERT(offsetof(info_setting, disk8_health) == 32, "info disk8_health");
CFG_STATIC_ASSERT(offsetof(info_setting, disk8_temp) == 34, "info disk8_temp");
CFG_STATIC_ASSERT(offsetof(info_setting, model) == 41, "info model");
CFG_STATIC_ASSERT(offsetof(info_setting, hostname) == 91, "info hostname");
CFG_STATIC_ASSERT(offsetof(info_setting, software_date) == 180, "info software_date");
CFG_STATIC_ASSERT(offsetof(info_setting, disk_size) == 248, "info disk_size");
CFG_STATIC_ASSERT(offsetof(info_setting, mac_address) == 268, "info mac_address");
CFG_STATIC_ASSERT(offsetof(info_setting, dhcp_lease_exp) == 284, "info dhcp_lease_exp");
CFG_STATIC_ASSERT(offsetof(info_setting, dhcp_update_date) == 292, "info dhcp_update_date");
CFG_STATIC_ASSERT(offsetof(info_setting, max_users_supported) == 296, "info max_users");
CFG_STATIC_ASSERT(offsetof(dvr_config, users) == 12, "dvr_config users");
CFG_STATIC_ASSERT(offsetof(dvr_config, cameras) == 664, "dvr_config cameras");
CFG_STATIC_ASSERT(offsetof(dvr_config, schedules) == 3212, "dvr_config schedules");
CFG_STATIC_ASSERT(offsetof(dvr_config, alarms) == 6828, "dvr_config alarms");
CFG_STATIC_ASSERT(offsetof(dvr_config, network) == 7420, "dvr_config network");
CFG_STATIC_ASSERT(offsetof(dvr_config, system) == 8780, "dvr_config system");
CFG_STATIC_ASSERT(offsetof(dvr_config, info) == 8864, "dvr_config info");
CFG_STATIC_ASSERT(offsetof(dvr_config, marker) == 9164, "dvr_config marker");
CFG_STATIC_ASSERT(offsetof(dvr_config, video_sys) == 9168, "dvr_config video_sys");
CFG_STATIC_ASSERT(offsetof(dvr_config, checksum) == 9169, "dvr_config checksum");

/** Nested offsets from the segment start that the viewer relies on. */
CFG_STATIC_ASSERT(offsetof(dvr_config, system) + offsetof(system_setting, time_date) +
                          offsetof(system_time_date_setting, date_format) ==
                      8798,
                  "date_format in the segment");
CFG_STATIC_ASSERT(offsetof(dvr_config, network) + offsetof(network_setting, ip_advanced) +
                          offsetof(network_advanced_setting, listen_port) ==
                      7538,
                  "listen_port in the segment");
CFG_STATIC_ASSERT(offsetof(dvr_config, cameras) + offsetof(camera_setting, ip) +
                          3 * sizeof(ip_camera_setting) + offsetof(ip_camera_setting, covert) ==
                      2201,
                  "covert of the fourth IP camera in the segment");
CFG_STATIC_ASSERT(offsetof(dvr_config, users) + 24 * sizeof(user_setting) +
                          offsetof(user_setting, enable) ==
                      661,
                  "enable of the 25th user in the segment");

#endif
