// language/0.js - English texts of the viewer pages.
var L = {
	live_title: "Live View",
	playback_title: "Playback",
	camera: "Camera",
	port: "Connection port",
	control_port: "Control port",
	passcode: "Passcode",
	model: "Model",
	front_panel: "Front panel",
	menu: "Menu",
	search: "Search",
	sequence: "Sequence",
	zoom: "Zoom",
	play: "Play",
	pause: "Pause",
	live: "Live view",
	recorded: "Recorded at",
	playback: "Playback",
	no_picture: "no picture",
	hidden_camera: "not available to this user"
};
