// viewer.js - helpers shared by the live view and playback pages: the
// date-time formatter for the device's dt_format, the model log hook and
// the language text filler.

// Formats fields {year, month, day, hour, min, sec} with the strftime
// letters the device uses (%y %Y %m %d %H %I %M %S %p %%). Works on plain
// fields rather than a Date so a recording's stored values show unchanged.
function formatDateTime(fmt, t) {
	function two(n) { return (n < 10 ? "0" : "") + n; }
	var hour12 = t.hour % 12 === 0 ? 12 : t.hour % 12;
	var conv = {
		y: two(t.year % 100), Y: String(t.year), m: two(t.month), d: two(t.day),
		H: two(t.hour), I: two(hour12), M: two(t.min), S: two(t.sec),
		p: t.hour < 12 ? "AM" : "PM", "%": "%"
	};
	return fmt.replace(/%(.)/g, function (all, letter) {
		return conv.hasOwnProperty(letter) ? conv[letter] : all;
	});
}

// The fields of a Date, for formatDateTime.
function dateFields(d) {
	return { year: d.getFullYear(), month: d.getMonth() + 1, day: d.getDate(),
		hour: d.getHours(), min: d.getMinutes(), sec: d.getSeconds() };
}

// Called by the generated page with the device's model code: remembers the
// model for the status line, whose text names it.
function logType(model) {
	top.m_logModel = model;
}

// Fills every element carrying data-text="key" with the language text.
function applyLanguage() {
	var nodes = document.querySelectorAll("[data-text]");
	for (var i = 0; i < nodes.length; i++) {
		var key = nodes[i].getAttribute("data-text");
		if (L.hasOwnProperty(key)) nodes[i].textContent = L[key];
	}
}

// Shows the value in the element of the given id.
function showText(id, value) {
	document.getElementById(id).textContent = value;
}

// Picture streams. The device serves one Motion-JPEG stream per camera on
// its connection port (g_conn_port, written into the page by the program),
// on the host the page came from, and wants the connection passcode
// (g_conn_pass). Cameras are numbered from 1 in the address; the pages count
// them from 0.
function streamAddress(kind, cam, extra) {
	return "http://" + location.hostname + ":" + encodeURIComponent(g_conn_port) + "/" + kind +
		"?cam=" + (cam + 1) + (extra || "") + "&pass=" + encodeURIComponent(g_conn_pass);
}

// Live pictures of camera cam.
function liveStream(cam) {
	return streamAddress("live", cam);
}

// The recording of camera cam from position at ({year, month, day, hour,
// min, sec}); one picture only when still is true.
function playbackStream(cam, at, still) {
	return streamAddress("playback", cam, "&year=" + at.year + "&month=" + at.month +
		"&day=" + at.day + "&sec=" + (at.hour * 3600 + at.min * 60 + at.sec) +
		(still ? "&still=1" : ""));
}

// Shows the pictures at url in the image img; a refused or broken stream
// leaves the grey picture and says so in the element of id note.
function showStream(img, url, note) {
	img.onerror = function () {
		img.onerror = null;
		img.src = "images/Channels/sNone.jpg";
		showText(note, L.no_picture);
	};
	showText(note, "");
	img.src = url;
}

// The live view window this page was opened from or sits in, when the
// browser lets this page read it (same origin): the opener, the parent or
// the top window that carries the live view's covert list. Null otherwise.
function liveViewWindow() {
	var candidates = [window.opener, window.parent, window.top];
	for (var i = 0; i < candidates.length; i++) {
		var w = candidates[i];
		if (!w || w === window) continue;
		try {
			if (w.g_covert_list instanceof w.Array && w.g_covert_list.length === 20) return w;
		} catch (e) {
			// another origin: nothing to learn there
		}
	}
	return null;
}

// True when the live view window w hides camera cam from its user: beyond
// the model's count, or covert for the user.
function hiddenInLiveView(w, cam) {
	var count = w.m_CameraCount !== undefined ? w.m_CameraCount : w.top.m_CameraCount;
	return cam < 0 || cam >= count || (cam < 20 && w.g_covert_list[cam] != 0);
}

// The playback id of the program (packed day, camera number, second of the
// day) for camera cam at the Date d: "YYYY" year-2000<<9 | month<<5 | day in
// 4 hexadecimal digits, the camera in 2 digits, the second in 5.
function playbackId(cam, d) {
	var day = ((d.getFullYear() - 2000) << 9) | ((d.getMonth() + 1) << 5) | d.getDate();
	var sec = d.getHours() * 3600 + d.getMinutes() * 60 + d.getSeconds();
	function pad(n, w) { n = String(n); while (n.length < w) n = "0" + n; return n; }
	return pad(day.toString(16).toUpperCase(), 4) + pad(cam + 1, 2) + pad(sec, 5);
}
