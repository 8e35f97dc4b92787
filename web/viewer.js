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
